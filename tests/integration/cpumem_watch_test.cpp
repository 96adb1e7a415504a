// The CPU and memory watch inside the runner: manual ticks over a fixture that changes between them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;
using namespace std::chrono_literals;

// Feeds the runner's script through a FIFO one step at a time, so that the fixture can change
// between steps. A step ends with a registry write of its number, which the feed waits for:
// commands run in order, so once the value is there the whole step has been carried out.
class ScriptFeed {
 public:
  ScriptFeed(const std::string& dir, std::string registry) : path_(dir + "/script"), registry_(std::move(registry)) {
    signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
  }
  ~ScriptFeed() { close(); }
  const std::string& path() const { return path_; }

  bool open() {  // once the runner has opened the script
    for (auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
      if ((fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0) return fcntl(fd_, F_SETFL, 0) == 0;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  void send(const Json& command) {
    const std::string line = command.dump() + "\n";
    EXPECT_EQ(::write(fd_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }
  bool step(const Json& command) {
    send(command);
    send({{"cmd", "regset"}, {"path", "HKLM\\Software\\StatrixTest\\Step"}, {"type", "dword"}, {"value", ++step_}});
    for (auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
      std::string text;
      std::getline(std::ifstream(registry_ + "/HKLM/Software/StatrixTest/Step"), text);
      if (text == "dword:" + std::to_string(step_)) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_, registry_;
  int fd_ = -1;
  int step_ = 0;
};

// The events of each step, split at the step markers.
std::vector<std::vector<Json>> splitSteps(const HostRun& run) {
  std::vector<std::vector<Json>> steps(1);
  for (const Json& e : run.events) {
    const bool marker = e.value("event", "") == "regset" && e.value("path", "").ends_with("\\Step");
    if (marker) steps.emplace_back();
    else steps.back().push_back(e);
  }
  return steps;
}

bool has(const std::vector<Json>& events, const Json& fields) {
  return std::any_of(events.begin(), events.end(), [&](const Json& e) {
    for (const auto& [key, value] : fields.items())
      if (!e.contains(key) || e[key] != value) return false;
    return true;
  });
}

Json statWrite(const std::string& name, int value) {
  return {{"event", "regwrite"},
          {"path", "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\" + name},
          {"value", value}};
}

TEST(CpuMemWatchInRunner, AlarmRaisedOverAChangingFixture) {
  statrix_test::ScratchDir scratch, registry;
  statrix_test::FixtureTree tree;
  std::vector<statrix_test::FakeCpu> cpus = {{1000, 0, 500, 8000}, {1200, 0, 400, 7900}};
  tree.setCpus(cpus);
  tree.setMeminfo(16777216, 8388608);  // load 50
  tree.addProcess({4321, "editor", 300, 40, 5000, 2048, 512, 2, 1000});

  // The future is declared first so that, should an assertion end the test early, the closed
  // script ends the runner before the future waits for it.
  std::future<HostRun> running;
  ScriptFeed feed(scratch.path(), registry.path());
  statrix_test::HostOptions options;
  options.args = {"--script", feed.path(), "--manual-timers", "--procfs", tree.root(), "--registry", registry.path(),
                  "--helpdesk"};
  running = std::async(std::launch::async, [options] { return statrix_test::runHost(options); });
  ASSERT_TRUE(feed.open());
  ASSERT_TRUE(feed.step({{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}}));
  ASSERT_TRUE(feed.step({{"cmd", "tick"}}));
  cpus[0].user += 723;  // 90.375 % busy since the first pass
  cpus[0].idle += 77;
  tree.setCpus(cpus);
  ASSERT_TRUE(feed.step({{"cmd", "tick"}}));
  feed.send({{"cmd", "exit"}});
  feed.close();

  const HostRun run = running.get();
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const auto steps = splitSteps(run);
  ASSERT_EQ(steps.size(), 4u) << run.transcript();
  EXPECT_TRUE(has(steps[0], {{"event", "timer"}, {"action", "start"}, {"period", 30000}})) << run.transcript();

  // First pass: only memory is evaluated; the help-desk message goes out regardless, with the
  // editor's session (no CPU time measured yet, 2.5 MB of 16 GiB).
  EXPECT_TRUE(has(steps[1], {{"event", "log"}, {"level", 1}, {"text", "Physical memory use: 50%"}}));
  EXPECT_TRUE(has(steps[1], statWrite("MemoryPercentage", 50)));
  EXPECT_TRUE(has(steps[1], {{"event", "message"},
                             {"worker", "AgentHelpDesk"},
                             {"op", "HelpdeskOperation"},
                             {"bag", Json::parse(R"([["opcode","str","NewDataFromStatrix"],)"
                                                 R"(["overall_cpu","i64",0],["overall_mem","i64",50],)"
                                                 R"(["sessionCpuMetric","bag",[["sessionId","i32",2],["cpu","i64",0]]],)"
                                                 R"(["sessionMemMetric","bag",[["sessionId","i32",2],["mem","i64",0]]]])")}}))
      << run.transcript();

  // Second pass: 90.375 % rounds to 91, above 90: alarm and the alarm period.
  EXPECT_TRUE(has(steps[2], statWrite("CpuPercentage", 91))) << run.transcript();
  EXPECT_TRUE(has(steps[2], {{"event", "broadcast"},
                             {"name", "PERF-ALERT"},
                             {"name2", "CPU-ALARM"},
                             {"bag", Json::parse(R"([["CPU_PERCENTAGE","str","91"]])")}}))
      << run.transcript();
  EXPECT_TRUE(has(steps[2], {{"event", "timer"}, {"action", "start"}, {"period", 15000}})) << run.transcript();

  // Exit zeroes the published figures.
  EXPECT_TRUE(has(steps[3], statWrite("CpuPercentage", 0))) << run.transcript();
}

}  // namespace
