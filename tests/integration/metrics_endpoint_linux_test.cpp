// varnel-host --metrics-listen end to end: the HTTP surface and the figures of a fixture machine
// as promtool and a real Prometheus server read them. (The README example stops a runner with
// the endpoint open by SIGTERM.)
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/promtool.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::ChildProcess;
using statrix_test::ScratchDir;

constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr char kPrometheus[] = "/usr/bin/prometheus";

// The runner on a fixture tree with the endpoint on a free loopback port.
struct Runner {
  ScratchDir dir;
  statrix_test::FixtureTree tree;
  int port = statrix_test::freeLoopbackPort();
  std::unique_ptr<ChildProcess> process;

  // Starts the runner and waits until the endpoint answers; false when it ended or never answered.
  bool start(std::vector<std::string> extra, const std::string& stdinPath = "/dev/null") {
    std::vector<std::string> argv = {statrix_test::hostBinary(), "--registry", dir.path() + "/registry", "--procfs",
                                     tree.root(), "--metrics-listen", "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process = std::make_unique<ChildProcess>(argv, std::vector<std::pair<std::string, std::string>>{},
                                             dir.path() + "/runner", stdinPath);
    auto answered = [&] { return !process->running() || static_cast<bool>(client().Get("/")); };
    return statrix_test::waitUntil(answered, kStartTimeout) && process->running();
  }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30);
    return c;
  }
  std::string scrape() {
    auto res = client().Get("/metrics");
    return res && res->status == 200 ? res->body : std::string();
  }
};

// Sends `request` as raw text on a new connection. With `answer`, returns the status code of the
// answer (-1 when there is none) and closes; else returns the connection, left open.
int rawRequest(int port, const std::string& request, bool answer) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  timeval timeout{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  bool sent = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  if (!answer) return fd;
  char buffer[64] = {};
  int status = sent && read(fd, buffer, sizeof buffer - 1) > 12 && std::string(buffer).starts_with("HTTP/1.1 ")
                   ? std::atoi(buffer + 9)
                   : -1;
  close(fd);
  return status;
}

// The value of the sample line that starts with `series` followed by a blank; NaN if none.
double sampleValue(const std::string& text, const std::string& series) {
  size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return std::nan("");
  return std::stod(text.substr(at + series.size() + 2));
}

// The value of the single series `query` selects, as Prometheus returns it (text); empty
// while there is none.
std::string queryValue(int port, const std::string& query) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(10);
  auto res = c.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
  if (!res || res->status != 200) return "";
  statrix_test::Json body = statrix_test::Json::parse(res->body, nullptr, false);
  if (body.is_discarded() || body["status"] != "success") return "";
  const statrix_test::Json& result = body["data"]["result"];
  if (!result.is_array() || result.size() != 1) return "";
  return result[0]["value"][1].get<std::string>();
}

TEST(MetricsEndpoint, HttpSurfaceAndAddressInUse) {
  Runner r;
  ASSERT_TRUE(r.start({})) << r.process->output();
  httplib::Client c = r.client();
  auto metrics = c.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  auto index = c.Get("/");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->status, 200);
  EXPECT_NE(index->body.find("href=\"/metrics\""), std::string::npos);
  auto head = c.Head("/metrics");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->body, "");
  auto post = c.Post("/metrics", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");

  // Other methods and paths; oversized requests are refused: a header line or a path past
  // 8 KiB, a body (never read).
  const std::vector<std::pair<std::string, int>> requests = {
      {"DELETE / HTTP/1.1\r\n\r\n", 405},
      {"GET /metrics/ HTTP/1.1\r\n\r\n", 404},
      {"GET /other HTTP/1.1\r\n\r\n", 404},
      {"GET /metrics?x=1# HTTP/1.1\r\n\r\n", 200},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, 'x'), 405},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", 400},
      {"GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n", 400}};
  for (const auto& [request, status] : requests) {
    int got = rawRequest(r.port, request, true);
    if (status == 400)
      EXPECT_TRUE(got == -1 || got >= 400) << got << " for " << request.substr(0, 20);
    else
      EXPECT_EQ(got, status) << request.substr(0, 20);
  }
  // Clients that send half a request and stall, more of them than there are workers, do not
  // keep a scrape from being answered.
  std::vector<int> stalled;
  for (int i = 0; i < 6; ++i) stalled.push_back(rawRequest(r.port, "GET /metrics HTTP/1.1\r\nHost: x\r\n", false));
  EXPECT_NE(r.scrape(), "");
  for (int fd : stalled) close(fd);

  // A second runner on the same address fails before loading the plug-in.
  statrix_test::HostRun second =
      statrix_test::runScript({}, {"--registry", r.dir.path(), "--procfs", r.tree.root(), "--metrics-listen",
                                   "127.0.0.1:" + std::to_string(r.port)});
  EXPECT_EQ(second.exitCode, 2) << second.transcript();
  EXPECT_NE(second.stderrText.find("cannot listen on 127.0.0.1:" + std::to_string(r.port)), std::string::npos)
      << second.transcript();
  EXPECT_TRUE(second.stdoutLines.empty()) << second.transcript();
}

TEST(MetricsEndpoint, WebConfigRefusalsAndStopWhileClientsStall) {
  // A web configuration that cannot be used ends the start with exit status 2 and one line
  // naming the key, before the plug-in is loaded.
  ScratchDir dir;
  statrix_test::FixtureTree tree;
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--web-config", dir.write("web.yml", "tls_server_config:\n  cert_fle: x\n")},
       "unknown key tls_server_config.cert_fle"},
      {{"--web-config", dir.path() + "/absent.yml"}, "absent.yml: cannot read the file"},
  };
  for (const auto& [extra, reason] : refused) {
    std::vector<std::string> args = {"--registry", dir.path(), "--procfs", tree.root(), "--metrics-listen",
                                     "127.0.0.1:" + std::to_string(statrix_test::freeLoopbackPort())};
    args.insert(args.end(), extra.begin(), extra.end());
    statrix_test::HostRun run = statrix_test::runScript({}, args);
    EXPECT_EQ(run.exitCode, 2) << run.transcript();
    EXPECT_NE(run.stderrText.find(reason), std::string::npos) << run.transcript();
    EXPECT_TRUE(run.stdoutLines.empty()) << run.transcript();
  }

  // SIGTERM ends the runner at once although clients hold connections with half a request
  // (it used to wait for each of them to give up).
  Runner r;
  ASSERT_TRUE(r.start({})) << r.process->output();
  std::vector<int> stalled;
  for (int i = 0; i < 16; ++i) stalled.push_back(rawRequest(r.port, "GET /metrics HTTP/1.1\r\nX-Slow: ", false));
  const auto begun = std::chrono::steady_clock::now();
  r.process->signal(SIGTERM);
  EXPECT_EQ(r.process->wait(std::chrono::seconds(30)), 0) << r.process->output();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
  EXPECT_NE(r.process->output().find("plug-in unloaded"), std::string::npos) << r.process->output();
  for (int fd : stalled) close(fd);
}

// Whether the exposition holds a sample line that starts with `series` and a blank.
bool hasSeries(const std::string& text, const std::string& series) {
  return text.find("\n" + series + " ") != std::string::npos;
}

// The script read from a FIFO the test writes, so the test decides when each line runs: a scrape
// before any pass, metrics added by a script line, a wildcard over interfaces that come and go.
TEST(MetricsEndpoint, UnmeasuredFiguresAreAbsentAndEveryValueCarriesItsDefinition) {
  Runner r;
  r.tree.setMeminfo(6000000, 1500000);
  r.tree.setInterfaces({{"eth0", 1000}, {"lo", 1000}});
  r.tree.setCpus({{100, 0, 50, 1000}});
  const std::string fifo = r.dir.path() + "/script.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int script = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // a writer exists before the runner opens it
  ASSERT_GE(script, 0);
  auto send = [&](const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(script, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  send(R"({"cmd":"waitWorker","name":"perfmon","timeout_ms":30000})");
  ASSERT_TRUE(r.start({"--script", "-", "--manual-timers"}, fifo)) << r.process->output();

  // No pass yet: memory sizes are known, the watch's percentages and the pass time are not.
  std::string text = r.scrape();
  EXPECT_TRUE(hasSeries(text, "statrix_memory_total_bytes")) << text;
  for (const char* unknown : {"statrix_system_cpu_percent", "statrix_memory_load_percent",
                              "statrix_last_pass_timestamp_seconds"})
    EXPECT_FALSE(hasSeries(text, unknown)) << text;

  const std::string net = R"(statrix_metric_value{metric="NET",object="Network Interface",counter="Bytes Total/sec",)";
  send(R"({"op":"configPerfmonMetrics","request":[["plugin_name","str","other"],)"
       R"(["statrixMetrics","bag",[["isAdd","bool",true],["strMetricName","str","AVAIL"],)"
       R"(["strCounterObject","str","Memory"],["strCounter","str","Available Bytes"]]],)"
       R"(["statrixMetrics","bag",[["isAdd","bool",true],["strMetricName","str","NET"],)"
       R"(["strCounterObject","str","Network Interface"],["strCounter","str","Bytes Total/sec"],)"
       R"(["strInstance","str","*"]]]]})");
  send(R"({"cmd":"tick"})");
  // One pass: the memory load is measured, the processor share needs a second pass. Each
  // scrape collects, so the rates have values from the second scrape on.
  int round = 0;
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        r.tree.setInterfaces({{"eth0", 2000u + 100u * ++round}, {"lo", 400000000u * round}});
        text = r.scrape();
        return hasSeries(text, net + R"(instance="lo"})") && hasSeries(text, "statrix_memory_load_percent");
      },
      kStartTimeout))
      << text << r.process->output();
  EXPECT_TRUE(hasSeries(text, net + R"(instance="eth0"})")) << text;
  EXPECT_EQ(sampleValue(text, R"(statrix_metric_value{metric="AVAIL",object="Memory",counter="Available Bytes",)"
                              R"(instance=""})"),
            1536000000.0)
      << text;
  EXPECT_EQ(sampleValue(text, "statrix_memory_load_percent"), 75) << text;
  EXPECT_FALSE(hasSeries(text, "statrix_system_cpu_percent")) << text;
  EXPECT_TRUE(hasSeries(text, "statrix_last_pass_timestamp_seconds")) << text;
  std::string why;
  EXPECT_TRUE(!statrix_test::havePromtool() || statrix_test::promtoolAccepts(text, why)) << why << text;

  // eth0 goes and eth1 arrives: the series follow.
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        ++round;
        r.tree.setInterfaces({{"eth1", 100u * round}, {"lo", 400000000u * round}});
        text = r.scrape();
        return hasSeries(text, net + R"(instance="eth1"})") && !hasSeries(text, net + R"(instance="eth0"})");
      },
      kStartTimeout))
      << text << r.process->output();
  // The second pass measures the processor share: 100 of 200 ticks busy.
  r.tree.setCpus({{200, 0, 50, 1100}});
  send(R"({"cmd":"tick"})");
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] { return hasSeries(text = r.scrape(), "statrix_system_cpu_percent"); }, kStartTimeout))
      << text << r.process->output();
  EXPECT_EQ(sampleValue(text, "statrix_system_cpu_percent"), 50) << text;
  close(script);  // the end of the script: the runner exits
  EXPECT_EQ(r.process->wait(std::chrono::seconds(60)), 0) << r.process->output();
}

TEST(MetricsEndpoint, FixtureFiguresPassPromtoolAndReachPrometheus) {
  Runner r;
  r.tree.setMeminfo(6000000, 1500000);  // kB: 6144000000 bytes in all, 25 % available
  r.tree.addProcess({1234, "worker \"x\"", 300, 40, 5000, 2048, 512, 2, 1000});
  // Manual timers: two passes now; a memory threshold the fixture (75 % load) exceeds.
  std::string script = r.dir.write("script.jsonl",
                                   "{\"cmd\":\"waitWorker\",\"name\":\"perfmon\",\"timeout_ms\":30000}\n"
                                   "{\"cmd\":\"tick\"}\n{\"cmd\":\"tick\"}\n"
                                   "{\"cmd\":\"sleep\",\"ms\":120000}\n");
  ASSERT_TRUE(r.start({"--script", script, "--manual-timers", "--helpdesk", "--set", "OverallMemoryPercentage=40"}))
      << r.process->output();
  std::string text;
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        text = r.scrape();
        return sampleValue(text, "statrix_alarms_total{kind=\"memory\"}") >= 2 &&
               sampleValue(text, "statrix_pass_duration_seconds_count") >= 2;
      },
      kStartTimeout))
      << text << r.process->output();
  EXPECT_EQ(sampleValue(text, "statrix_memory_load_percent"), 75) << text;
  EXPECT_EQ(sampleValue(text, "statrix_memory_total_bytes"), 6144000000.0) << text;
  EXPECT_NE(text.find("statrix_stored_value{name=\"AllSessions\"} 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("statrix_alarms_total{kind=\"process_memory\"} 0\n"), std::string::npos) << text;
  // The session gauges follow the help-desk message, once it carries session figures.
  if (r.process->output().find("\"sessionMemMetric\"") != std::string::npos) {
    EXPECT_NE(text.find("statrix_session_memory_percent{session=\"2\"}"), std::string::npos)
        << text << r.process->output();
  }
  std::string why;
  EXPECT_TRUE(!statrix_test::havePromtool() || statrix_test::promtoolAccepts(text, why)) << why << text;

  if (access(kPrometheus, X_OK) != 0) GTEST_SKIP() << kPrometheus << " is not installed (Debian package prometheus)";
  const int promPort = statrix_test::freeLoopbackPort();
  std::string config = r.dir.write("prometheus.yml",
                                   "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                   "scrape_configs:\n  - job_name: statrix\n    static_configs:\n"
                                   "      - targets: ['127.0.0.1:" +
                                       std::to_string(r.port) + "']\n");
  ChildProcess prometheus({kPrometheus, "--config.file=" + config, "--storage.tsdb.path=" + r.dir.path() + "/tsdb",
                           "--web.listen-address=127.0.0.1:" + std::to_string(promPort), "--log.level=warn"},
                          {}, r.dir.path() + "/prometheus");
  std::string total;
  EXPECT_TRUE(statrix_test::waitUntil(
      [&] {
        total = queryValue(promPort, "statrix_memory_total_bytes{job=\"statrix\"}");
        return !total.empty() || !prometheus.running();
      },
      std::chrono::seconds(120)));
  EXPECT_EQ(total, "6144000000") << prometheus.output();
  EXPECT_EQ(queryValue(promPort, "statrix_memory_available_bytes"), "1536000000");
  EXPECT_EQ(queryValue(promPort, "up{job=\"statrix\"}"), "1");
  EXPECT_EQ(queryValue(promPort, "statrix_watch_enabled"), "1");
  EXPECT_EQ(queryValue(promPort, "statrix_stored_value{name=\"AllSessions\"}"), "0");
  EXPECT_EQ(queryValue(promPort, "statrix_alarms_total{kind=\"cpu\"}"), "0");
  EXPECT_EQ(queryValue(promPort, "count(statrix_pass_duration_seconds_bucket)"), "13");
  prometheus.signal(SIGTERM);
  EXPECT_TRUE(prometheus.wait(std::chrono::seconds(60)).has_value()) << prometheus.output();
}

}  // namespace
