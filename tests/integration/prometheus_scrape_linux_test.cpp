// A real Prometheus server scrapes varnel-host on a fixture machine; its query API gives the
// fixture's figures back.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::ChildProcess;

constexpr char kPrometheus[] = "/usr/bin/prometheus";

// The value of the single series `query` selects, as Prometheus returns it (text); empty
// while there is none.
std::string queryValue(int port, const std::string& query) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(10);
  auto res = c.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
  if (!res || res->status != 200) return "";
  nlohmann::json body = nlohmann::json::parse(res->body, nullptr, false);
  if (body.is_discarded() || body["status"] != "success") return "";
  const nlohmann::json& result = body["data"]["result"];
  if (!result.is_array() || result.size() != 1) return "";
  return result[0]["value"][1].get<std::string>();
}

TEST(PrometheusScrape, QueryApiReturnsTheFixtureFigures) {
  if (access(kPrometheus, X_OK) != 0) GTEST_SKIP() << kPrometheus << " is not installed (Debian package prometheus)";
  statrix_test::ScratchDir dir;
  statrix_test::FixtureTree tree;
  tree.setMeminfo(6000000, 1500000);  // kB: 6144000000 bytes in all, 25 % available
  const int runnerPort = statrix_test::freeLoopbackPort();
  ChildProcess runner({statrix_test::hostBinary(), "--registry", dir.path() + "/registry", "--procfs", tree.root(),
                       "--metrics-listen", "127.0.0.1:" + std::to_string(runnerPort)},
                      {}, dir.path() + "/runner");

  const int promPort = statrix_test::freeLoopbackPort();
  std::string config = dir.write("prometheus.yml",
                                 "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                 "scrape_configs:\n  - job_name: statrix\n    static_configs:\n"
                                 "      - targets: ['127.0.0.1:" +
                                     std::to_string(runnerPort) + "']\n");
  ChildProcess prometheus({kPrometheus, "--config.file=" + config, "--storage.tsdb.path=" + dir.path() + "/tsdb",
                           "--web.listen-address=127.0.0.1:" + std::to_string(promPort), "--log.level=warn"},
                          {}, dir.path() + "/prometheus");

  std::string total;
  bool found = statrix_test::waitUntil(
      [&] {
        // The runner answers before its plug-in runs: wait for a scrape with the plug-in's figures.
        total = queryValue(promPort, "statrix_memory_total_bytes{job=\"statrix\"}");
        return (!total.empty() && queryValue(promPort, "statrix_counter{name=\"AllSessions\"}") == "0") ||
               !prometheus.running() || !runner.running();
      },
      std::chrono::seconds(120));
  EXPECT_TRUE(found);
  EXPECT_EQ(total, "6144000000") << runner.output() << prometheus.output();
  EXPECT_EQ(queryValue(promPort, "statrix_memory_available_bytes"), "1536000000");
  EXPECT_EQ(queryValue(promPort, "up{job=\"statrix\"}"), "1");
  EXPECT_EQ(queryValue(promPort, "statrix_watch_enabled"), "1");
  EXPECT_EQ(queryValue(promPort, "statrix_alarms_total{kind=\"cpu\"}"), "0");
  EXPECT_EQ(queryValue(promPort, "count(statrix_pass_duration_seconds_bucket)"), "13");

  prometheus.signal(SIGTERM);
  EXPECT_TRUE(prometheus.wait(std::chrono::seconds(60)).has_value()) << prometheus.output();
  runner.signal(SIGTERM);
  EXPECT_EQ(runner.wait(std::chrono::seconds(60)), 0) << runner.output();
}

}  // namespace
