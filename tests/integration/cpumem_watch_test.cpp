// The CPU and memory watch inside the runner: manual ticks over a fixture procfs tree that
// changes between ticks, checked through the runner's log, broadcast, message, registry-write
// and timer events.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::FakeCpu;
using statrix_test::HostRun;
using statrix_test::Json;
using namespace std::chrono_literals;

// Feeds a script to a runner one command at a time through a FIFO, so that the test can change
// the fixture between commands. Each step ends with a registry write of the step number that
// the test waits for: the runner handles commands in order, so once that value is there every
// command before it has been carried out.
class ScriptFeed {
 public:
  ScriptFeed(const std::string& dir, std::string registryRoot)
      : path_(dir + "/script"), registryRoot_(std::move(registryRoot)) {
    signal(SIGPIPE, SIG_IGN);
    if (mkfifo(path_.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
  }
  ~ScriptFeed() { close(); }

  const std::string& path() const { return path_; }

  // Waits for the runner to open the script.
  bool open() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while ((fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
      if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    fcntl(fd_, F_SETFL, 0);
    return true;
  }
  void send(const Json& command) {
    const std::string line = command.dump() + "\n";
    if (fd_ < 0 || ::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      ADD_FAILURE() << "the runner no longer reads its script";
    }
  }
  // Sends the commands, then waits until the runner has carried all of them out.
  bool step(const std::vector<Json>& commands) {
    for (const Json& c : commands) send(c);
    ++step_;
    send({{"cmd", "regset"}, {"path", "HKLM\\Software\\StatrixTest\\Step"}, {"type", "dword"}, {"value", step_}});
    const std::string file = registryRoot_ + "/HKLM/Software/StatrixTest/Step";
    const std::string want = "dword:" + std::to_string(step_);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(file);
      std::string text;
      std::getline(in, text);
      if (text == want) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  std::string registryRoot_;
  int fd_ = -1;
  int step_ = 0;
};

// The events of one step: those after the previous step's "regset" marker up to this one's.
std::vector<std::vector<Json>> splitSteps(const HostRun& run) {
  std::vector<std::vector<Json>> steps(1);
  for (const Json& e : run.events) {
    if (e.value("event", "") == "regset" && e.value("path", "").ends_with("\\Step")) {
      steps.emplace_back();
    } else {
      steps.back().push_back(e);
    }
  }
  return steps;
}

size_t countMatching(const std::vector<Json>& events, const Json& fields) {
  size_t n = 0;
  for (const Json& e : events) {
    bool all = true;
    for (const auto& [key, value] : fields.items()) all = all && e.contains(key) && e[key] == value;
    n += all ? 1 : 0;
  }
  return n;
}

Json logLine(int level, const std::string& text) { return {{"event", "log"}, {"level", level}, {"text", text}}; }
Json statWrite(const std::string& name, int value) {
  return {{"event", "regwrite"}, {"path", "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\" + name},
          {"value", value}};
}
Json timerStart(uint32_t period) { return {{"event", "timer"}, {"action", "start"}, {"period", period}}; }

TEST(CpuMemWatchInRunner, AlarmCycleOverChangingFixture) {
  statrix_test::ScratchDir scratch;
  statrix_test::ScratchDir registry;
  statrix_test::FixtureTree tree;
  std::vector<FakeCpu> cpus = {FakeCpu{1000, 0, 500, 8000}, FakeCpu{1200, 0, 400, 7900}};
  tree.setCpus(cpus);
  tree.setMeminfo(16777216, 8388608);  // load 50
  tree.addProcess({4321, "editor", 300, 40, 5000, 2048, 512, 2, 1000});
  auto advance = [&](uint64_t busy, uint64_t idle) {
    cpus[0].user += busy;
    cpus[0].idle += idle;
    tree.setCpus(cpus);
  };

  ScriptFeed feed(scratch.path(), registry.path());
  statrix_test::HostOptions options;
  options.args = {"--script", feed.path(), "--manual-timers", "--procfs", tree.root(), "--registry", registry.path(),
                  "--helpdesk"};
  options.timeout = 120s;
  std::future<HostRun> running = std::async(std::launch::async, [&] { return statrix_test::runHost(options); });
  ASSERT_TRUE(feed.open());

  const Json tick = {{"cmd", "tick"}};
  ASSERT_TRUE(feed.step({{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}}}));
  ASSERT_TRUE(feed.step({tick}));  // first pass: totals only
  advance(723, 77);                 // 90.375 %
  ASSERT_TRUE(feed.step({tick}));
  advance(100, 900);  // 10 %
  ASSERT_TRUE(feed.step({tick}));
  ASSERT_TRUE(feed.step({{{"cmd", "regset"},
                          {"path", "HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\samplingintervalseconds"},
                          {"type", "sz"},
                          {"value", "6"}}}));
  feed.send({{"cmd", "exit"}});
  feed.close();

  const HostRun run = running.get();
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const std::vector<std::vector<Json>> steps = splitSteps(run);
  ASSERT_EQ(steps.size(), 6u) << run.transcript();

  // Start: statistics zeroed (when the watch state is created and again by the start), the
  // sampling period.
  EXPECT_GE(countMatching(steps[0], statWrite("CpuPercentage", 0)), 1u) << run.transcript();
  EXPECT_EQ(countMatching(steps[0], timerStart(30000)), 1u) << run.transcript();

  // First pass: memory evaluated, CPU only stored; the help-desk message goes out regardless.
  const auto& first = steps[1];
  EXPECT_EQ(countMatching(first, {{"event", "ticked"}, {"result", true}}), 1u) << run.transcript();
  EXPECT_EQ(countMatching(first, logLine(1, "Physical memory use: 50%")), 1u) << run.transcript();
  EXPECT_EQ(countMatching(first, statWrite("MemoryPercentage", 50)), 1u) << run.transcript();
  EXPECT_EQ(countMatching(first, {{"event", "regwrite"},
                                  {"path", "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\CpuPercentage"}}),
            0u);
  const Json firstMessage = {{"event", "message"}, {"worker", "AgentHelpDesk"}, {"op", "HelpdeskOperation"},
                             {"bag", Json::array({Json::array({"opcode", "str", "NewDataFromStatrix"}),
                                                  Json::array({"overall_cpu", "i64", 0}),
                                                  Json::array({"overall_mem", "i64", 50})})}};
  EXPECT_EQ(countMatching(first, firstMessage), 1u) << run.transcript();

  // Second pass: 90.375 % rounds to 91, above 90: alarm, broadcast, the alarm period.
  const auto& second = steps[2];
  EXPECT_EQ(countMatching(second, logLine(1, "System CPU use: 91%")), 1u) << run.transcript();
  EXPECT_EQ(countMatching(second, logLine(2, "CPU-ALARM: cpu use = 91%")), 1u) << run.transcript();
  EXPECT_EQ(countMatching(second, statWrite("CpuPercentage", 91)), 1u) << run.transcript();
  EXPECT_EQ(countMatching(second, {{"event", "broadcast"},
                                   {"name", "PERF-ALERT"},
                                   {"name2", "CPU-ALARM"},
                                   {"bag", Json::array({Json::array({"CPU_PERCENTAGE", "str", "91"})})}}),
            1u)
      << run.transcript();
  EXPECT_EQ(countMatching(second, timerStart(15000)), 1u) << run.transcript();

  // Third pass: 10 %, the alarm is over and the sampling period is back.
  const auto& third = steps[3];
  EXPECT_EQ(countMatching(third, statWrite("CpuPercentage", 10)), 1u) << run.transcript();
  EXPECT_EQ(countMatching(third, {{"event", "broadcast"}}), 0u) << run.transcript();
  EXPECT_EQ(countMatching(third, timerStart(30000)), 1u) << run.transcript();

  // An interval changed in the registry, its name in lower case, reschedules at once.
  EXPECT_EQ(countMatching(steps[4], timerStart(6000)), 1u) << run.transcript();

  // Exit: the statistics are zeroed again.
  EXPECT_EQ(countMatching(steps[5], statWrite("CpuPercentage", 0)), 1u) << run.transcript();
  EXPECT_EQ(countMatching(steps[5], statWrite("MemoryPercentage", 0)), 1u) << run.transcript();
}

}  // namespace
