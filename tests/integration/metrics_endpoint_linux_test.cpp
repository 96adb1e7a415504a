// varnel-host --metrics-listen end to end: the HTTP surface, the figures of a fixture machine,
// the exposition as promtool reads it, and a clean stop by SIGTERM with the endpoint open.
#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/promtool.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::ChildProcess;
using statrix_test::FixtureTree;
using statrix_test::ScratchDir;

constexpr auto kStartTimeout = std::chrono::seconds(60);

// The runner on a fixture tree with the endpoint on a free loopback port.
struct Runner {
  ScratchDir dir;
  FixtureTree tree;
  int port = statrix_test::freeLoopbackPort();
  std::unique_ptr<ChildProcess> process;

  void start(std::vector<std::string> extra) {
    std::vector<std::string> argv = {statrix_test::hostBinary(), "--registry", dir.path() + "/registry", "--procfs",
                                     tree.root(), "--metrics-listen", "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process = std::make_unique<ChildProcess>(argv, std::vector<std::pair<std::string, std::string>>{},
                                             dir.path() + "/runner");
  }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30);
    return c;
  }
  // Waits until the endpoint answers; false when the runner ended or never answered.
  bool ready() {
    return statrix_test::waitUntil(
        [&] {
          if (!process->running()) return true;
          return static_cast<bool>(client().Get("/"));
        },
        kStartTimeout) &&
           process->running();
  }
  std::string scrape() {
    auto res = client().Get("/metrics");
    return res && res->status == 200 ? res->body : std::string();
  }
};

// A connection to the endpoint; the caller closes it.
int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  (void)connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  return fd;
}

// A connection on which half a request was sent; the caller closes it.
int halfRequest(int port) {
  int fd = connectTo(port);
  const char partial[] = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
  (void)!write(fd, partial, sizeof partial - 1);
  return fd;
}

// The status code of the answer to a request sent as raw text; -1 when there is none.
int statusOfRaw(int port, const std::string& request) {
  int fd = connectTo(port);
  int status = -1;
  timeval timeout{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buffer[64] = {};
    if (read(fd, buffer, sizeof buffer - 1) > 12 && std::string(buffer).starts_with("HTTP/1.1 "))
      status = std::atoi(buffer + 9);
  }
  close(fd);
  return status;
}

// The value of the sample line that starts with `series` followed by a blank; NaN if none.
double sampleValue(const std::string& text, const std::string& series) {
  size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return std::nan("");
  return std::stod(text.substr(at + series.size() + 2));
}

TEST(MetricsEndpoint, HttpSurfaceFiguresAndCleanStopBySigterm) {
  Runner r;
  r.tree.setMeminfo(8000000, 2000000);
  r.start({});
  ASSERT_TRUE(r.ready()) << r.process->output();
  httplib::Client c = r.client();
  // The endpoint answers from before the plug-in runs; wait for the worker's figures.
  ASSERT_TRUE(statrix_test::waitUntil([&] { return r.scrape().find("\nstatrix_counter{") != std::string::npos; },
                                      kStartTimeout))
      << r.process->output();

  auto metrics = c.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(sampleValue(metrics->body, "statrix_memory_total_bytes"), 8192000000.0) << metrics->body;
  EXPECT_EQ(sampleValue(metrics->body, "statrix_memory_available_bytes"), 2048000000.0) << metrics->body;
  EXPECT_EQ(sampleValue(metrics->body, "statrix_watch_enabled"), 1) << metrics->body;
  EXPECT_NE(metrics->body.find("statrix_counter{name=\"AllSessions\"} 0\n"), std::string::npos) << metrics->body;
  EXPECT_NE(metrics->body.find("statrix_alarms_total{kind=\"process_memory\"} 0\n"), std::string::npos);

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
  auto del = c.Delete("/");
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 405);
  for (const char* path : {"/metrics/", "/other", "/metrics?x=1#"}) {
    auto res = c.Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, std::string(path) == "/metrics?x=1#" ? 200 : 404) << path;
  }
  // Oversized requests are refused: a header line or a path past 8 KiB, a body (never read).
  int hugeHeader = statusOfRaw(r.port, "GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n");
  EXPECT_TRUE(hugeHeader == -1 || hugeHeader >= 400) << hugeHeader;
  int hugePath = statusOfRaw(r.port, "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(hugePath == -1 || hugePath >= 400) << hugePath;
  auto bigPost = c.Post("/metrics", std::string(64 * 1024, 'x'), "text/plain");
  ASSERT_TRUE(bigPost);
  EXPECT_EQ(bigPost->status, 405);
  // Clients that send half a request and stall, more of them than there are workers, do not
  // keep a scrape from being answered.
  std::vector<int> stalled;
  for (int i = 0; i < 6; ++i) stalled.push_back(halfRequest(r.port));
  EXPECT_NE(r.scrape(), "");
  for (int fd : stalled) close(fd);

  r.process->signal(SIGTERM);
  std::optional<int> code = r.process->wait(std::chrono::seconds(60));
  ASSERT_TRUE(code.has_value()) << "runner did not stop on SIGTERM\n" << r.process->output();
  EXPECT_EQ(*code, 0) << r.process->output();
  EXPECT_NE(r.process->output().find("plug-in unloaded"), std::string::npos) << r.process->output();
}

TEST(MetricsEndpoint, ScrapeOfAFixtureMachinePassesPromtool) {
  if (!statrix_test::havePromtool()) GTEST_SKIP() << "/usr/bin/promtool is not installed (Debian package prometheus)";
  Runner r;
  r.tree.addProcess({1234, "worker \"x\"", 300, 40, 5000, 2048, 512, 2, 1000});
  ScratchDir scripts;
  // Manual timers: two passes now; a memory threshold the fixture (50 % load) exceeds.
  std::string script = scripts.write("script.jsonl",
                                     "{\"cmd\":\"waitWorker\",\"name\":\"perfmon\",\"timeout_ms\":30000}\n"
                                     "{\"cmd\":\"tick\"}\n{\"cmd\":\"tick\"}\n"
                                     "{\"cmd\":\"sleep\",\"ms\":120000}\n");
  r.start({"--script", script, "--manual-timers", "--helpdesk", "--set", "OverallMemoryPercentage=40"});
  ASSERT_TRUE(r.ready()) << r.process->output();
  std::string text;
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        text = r.scrape();
        return sampleValue(text, "statrix_alarms_total{kind=\"memory\"}") >= 2 &&
               sampleValue(text, "statrix_pass_duration_seconds_count") >= 2;
      },
      kStartTimeout))
      << text << r.process->output();
  EXPECT_EQ(sampleValue(text, "statrix_memory_load_percent"), 50) << text;
  // The session gauges follow the help-desk message, once it carries session figures.
  if (r.process->output().find("\"sessionMemMetric\"") != std::string::npos) {
    EXPECT_NE(text.find("statrix_session_memory_percent{session=\"2\"}"), std::string::npos)
        << text << r.process->output();
  }
  std::string why;
  EXPECT_TRUE(statrix_test::promtoolAccepts(text, why)) << why << text;
}

TEST(MetricsEndpoint, AddressInUseIsAStartFailure) {
  Runner first;
  first.start({});
  ASSERT_TRUE(first.ready()) << first.process->output();
  ScratchDir dir;
  statrix_test::HostOptions options;
  options.args = {"--registry", dir.path(), "--procfs", first.tree.root(), "--metrics-listen",
                  "127.0.0.1:" + std::to_string(first.port)};
  statrix_test::HostRun run = statrix_test::runHost(options);
  EXPECT_EQ(run.exitCode, 2) << run.transcript();
  EXPECT_NE(run.stderrText.find("cannot listen on 127.0.0.1:" + std::to_string(first.port)), std::string::npos)
      << run.transcript();
  EXPECT_TRUE(run.stdoutLines.empty()) << run.transcript();  // failed before loading the plug-in
}

}  // namespace
