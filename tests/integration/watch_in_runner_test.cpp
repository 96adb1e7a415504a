// The watches inside the runner over fixture trees: CPU and memory alarms across manual ticks,
// process alarms with the consumer list and session figures, and counter metrics.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;
using namespace std::chrono_literals;

const std::string kStats = "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\";
const Json kWait = {{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}};

// Feeds the runner's script through a FIFO one step at a time, so that the fixture can change
// between steps. A step ends with a registry write of its number, which the feed waits for:
// commands run in order, so once the value is there the whole step has been carried out. The
// FIFO is held open for reading too, so that writes wait in it until the runner opens it.
class ScriptFeed {
 public:
  ScriptFeed(const std::string& dir, std::string registry) : path_(dir + "/script"), registry_(std::move(registry)) {
    EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  }
  ~ScriptFeed() { close(); }
  const std::string& path() const { return path_; }

  void send(const Json& command) {
    const std::string line = command.dump() + "\n";
    EXPECT_EQ(::write(fd_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }
  bool step(const Json& command) {
    send(command);
    send({{"cmd", "regset"}, {"path", "HKLM\\Software\\StatrixTest\\Step"}, {"type", "dword"}, {"value", ++step_}});
    const std::string done = "dword:" + std::to_string(step_) + "\n";
    return statrix_test::waitUntil(
        [&] { return statrix_test::readFile(registry_ + "/HKLM/Software/StatrixTest/Step") == done; }, 30s);
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
std::vector<HostRun> splitSteps(const HostRun& run) {
  std::vector<HostRun> steps(1);
  for (const Json& e : run.events) {
    if (e.value("event", "") == "regset" && e.value("path", "").ends_with("\\Step"))
      steps.emplace_back();
    else
      steps.back().events.push_back(e);
  }
  return steps;
}

Json statWrite(const std::string& name, int value) {
  return {{"event", "regwrite"}, {"path", kStats + name}, {"value", value}};
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
  ASSERT_TRUE(feed.step(kWait));
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
  EXPECT_TRUE(steps[0].has({{"event", "timer"}, {"action", "start"}, {"period", 30000}})) << run.transcript();

  // First pass: only memory is evaluated; the help-desk message goes out regardless, with the
  // editor's session (no CPU time measured yet, 2.5 MB of 16 GiB).
  EXPECT_TRUE(steps[1].has({{"event", "log"}, {"level", 1}, {"text", "Physical memory use: 50%"}}));
  EXPECT_TRUE(steps[1].has(statWrite("MemoryPercentage", 50)));
  EXPECT_TRUE(steps[1].has({{"event", "message"},
                            {"worker", "AgentHelpDesk"},
                            {"op", "HelpdeskOperation"},
                            {"bag", Json::parse(R"([["opcode","str","NewDataFromStatrix"],)"
                                                R"(["overall_cpu","i64",0],["overall_mem","i64",50],)"
                                                R"(["sessionCpuMetric","bag",[["sessionId","i32",2],["cpu","i64",0]]],)"
                                                R"(["sessionMemMetric","bag",[["sessionId","i32",2],["mem","i64",0]]]])")}}))
      << run.transcript();

  // Second pass: 90.375 % rounds to 91, above 90: alarm and the alarm period.
  EXPECT_TRUE(steps[2].has(statWrite("CpuPercentage", 91))) << run.transcript();
  EXPECT_TRUE(steps[2].has({{"event", "broadcast"},
                            {"name", "PERF-ALERT"},
                            {"name2", "CPU-ALARM"},
                            {"bag", Json::parse(R"([["CPU_PERCENTAGE","str","91"]])")}}))
      << run.transcript();
  EXPECT_TRUE(steps[2].has({{"event", "timer"}, {"action", "start"}, {"period", 15000}})) << run.transcript();

  // Exit zeroes the published figures.
  EXPECT_TRUE(steps[3].has(statWrite("CpuPercentage", 0))) << run.transcript();
}

TEST(ProcessWatchInRunner, MemoryAlarmsListTheConsumersAndTheMessageCarriesTheSessions) {
  statrix_test::ScratchDir registry;
  statrix_test::FixtureTree tree;
  tree.setMeminfo(1000000, 500000, 100000, 50000);  // load 50, 50000 kB of swap in use
  tree.addProcess({100, "init", 50, 20, 10, 1000, 0, 4294967295u, 0});
  tree.addProcess({200, "editor.bin", 300, 40, 5000, 300000, 0, 2, 3999999});  // 30 %, owner unknown
  tree.addProcess({300, "db", 100, 0, 6000, 150000, 50000, 3, 0});              // 15 %

  const HostRun run = statrix_test::runScript(
      {kWait, {{"cmd", "tick"}}, {{"cmd", "exit"}}},
      {"--manual-timers", "--procfs", tree.root(), "--registry", registry.path(), "--helpdesk", "--set",
       "ProcessMemoryPercentage=20", "--set", "ProcessNameList=editor, db", "--set", "OverallMemoryPercentage=40",
       "--set", "AlarmLogConsumerMax=1"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();

  const long alarm = run.find({{"event", "broadcast"}, {"name", "PERF-ALERT"}, {"name2", "PROCESS-ALARM"}});
  ASSERT_GE(alarm, 0) << run.transcript();
  EXPECT_EQ(run.events[alarm]["bag"], Json::parse(R"([["PROCESSID","str","200"],["PROCESSNAME","str","editor"],)"
                                                  R"(["SESSIONID","str","2"],["USER","str","SYSTEM"],)"
                                                  R"(["MEMORY_PERCENTAGE","str","30"]])"));
  EXPECT_GE(run.find({{"event", "log"}, {"text", "PROCESS_ALARM_MEMORY: pid=200, sessionId=2, name=editor, "
                                                  "user=SYSTEM, percent=30"}}),
            0);
  EXPECT_EQ(run.find({{"event", "broadcast"}, {"name2", "PROCESS-ALARM"}}, alarm + 1), -1) << "db is under 20 %";

  // One slot: the largest consumer, listed before the overall alarm's broadcast.
  const long list = run.find({{"event", "broadcast"}, {"name2", "PROCESS-LIST"}});
  const long overall = run.find({{"event", "broadcast"}, {"name2", "MEMORY-ALARM"}});
  ASSERT_GE(list, 0) << run.transcript();
  EXPECT_LT(list, overall);
  EXPECT_EQ(run.events[list]["bag"][0], Json::parse(R"(["numConsumers","i32",1])"));
  EXPECT_EQ(run.events[list]["bag"][2][2][1], Json::parse(R"(["PROCESSNAME","str","editor"])"));
  EXPECT_GE(run.find({{"event", "log"}, {"text", "High memory use: pid=200, sessionId=2, name=editor, user=SYSTEM, "
                                                  "percent=30.0"}}),
            0)
      << run.transcript();

  // Private bytes (RssAnon + VmSwap) of 1000000 kB per session; no processor time has passed
  // for the new processes, so their CPU figures are 0.
  const long message = run.find({{"event", "message"}, {"op", "HelpdeskOperation"}});
  ASSERT_GE(message, 0) << run.transcript();
  const Json sessions = Json::parse(R"([
      ["sessionCpuMetric","bag",[["sessionId","i32",2],["cpu","i64",0]]],
      ["sessionCpuMetric","bag",[["sessionId","i32",3],["cpu","i64",0]]],
      ["sessionMemMetric","bag",[["sessionId","i32",2],["mem","i64",30]]],
      ["sessionMemMetric","bag",[["sessionId","i32",3],["mem","i64",20]]]])");
  const Json& bag = run.events[message]["bag"];
  ASSERT_GE(bag.size(), 4u);
  EXPECT_EQ(Json(std::vector<Json>(bag.end() - 4, bag.end())), sessions) << run.transcript();
}

Json metric(const char* name, const char* object, const char* counter) {
  return Json::array({Json::array({"isAdd", "bool", true}), Json::array({"strMetricName", "str", name}),
                      Json::array({"strCounterObject", "str", object}), Json::array({"strCounter", "str", counter}),
                      Json::array({"strInstance", "str", ""})});
}

Json config(const char* plugin, std::vector<Json> metrics) {
  Json bag = Json::array({Json::array({"plugin_name", "str", plugin})});
  for (Json& m : metrics) bag.push_back(Json::array({"statrixMetrics", "bag", std::move(m)}));
  return {{"op", "configPerfmonMetrics"}, {"request", bag}};
}

const Json kCollect = {{"op", "collectCpuAndMem"}, {"request", Json::object()}};

// The value of `name` in a reply bag (JSON entries [name, type, value]); null when absent.
Json entryValue(const Json& bag, const std::string& name) {
  for (const Json& e : bag)
    if (e.at(0) == name) return e.at(2);
  return nullptr;
}

class MetricsInRunner : public ::testing::Test {
 protected:
  MetricsInRunner() {
    tree.setCpus({{100, 0, 0, 100}, {100, 0, 0, 100}});
    tree.setCounters(1000, 100, 5, 0);  // 3 ready beyond the two processors
    tree.setMeminfo(4u << 20, 3000000);
    tree.setLogins({});  // no login of this machine may count
  }
  HostRun run(const std::vector<Json>& script, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--procfs",        tree.root(),           "--registry", registry.path(),
                                     "--manual-timers", "--utmp", tree.utmpPath()};
    args.insert(args.end(), extra.begin(), extra.end());
    return statrix_test::runScript(script, args);
  }

  statrix_test::ScratchDir registry;
  statrix_test::FixtureTree tree;
};

// With a second display language installed, the English counter names still resolve.
TEST_F(MetricsInRunner, AnotherPluginsMetricsComeBackInTheNextReply) {
  const auto language = std::filesystem::path(registry.path()) /
                        "HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage";
  std::filesystem::create_directories(language);
  std::ofstream(language / "Counter") << "multi_sz:\n2\nSysteem\n4\nGeheugen\n24\nBeschikbare bytes\n44\n"
                                         "Lengte processorwachtrij\n";
  const HostRun r = run({kWait, config("other", {metric("EARLY", "Memory", "Available Bytes")}), kCollect,
                         config("other", {metric("AVAIL", "Memory", "Available Bytes"),
                                          metric("CPU", "Memory", "Available Bytes")}),
                         kCollect, {{"cmd", "exit"}}},
                        {"--level", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.transcript();
  const auto replies = r.named("reply");
  ASSERT_EQ(replies.size(), 4u) << r.transcript();
  EXPECT_EQ(replies[0].at("result"), true);
  EXPECT_EQ(replies[0].at("reply"), Json::array());  // the reply of a configuration stays empty
  // The first request replaced the table by the defaults: the early metric is gone.
  const Json& first = replies[1].at("reply");
  EXPECT_EQ(entryValue(first, "EARLY"), nullptr) << r.transcript();
  EXPECT_EQ(entryValue(first, "PROCESSOR_QUEUE_LENGTH"), 3) << r.transcript();
  EXPECT_EQ(entryValue(first, "CURRENT_DISK_QUEUE_LENGTH"), 0);
  EXPECT_NE(entryValue(first, "CPU"), nullptr);
  const Json& second = replies[3].at("reply");
  EXPECT_EQ(entryValue(second, "AVAIL"), 3072000000) << r.transcript();
  EXPECT_EQ(entryValue(second, "PROCESSOR_QUEUE_LENGTH"), 3);
  // A metric named like a watch figure is replaced by that figure, not repeated.
  EXPECT_EQ(entryValue(second, "CPU"), 0);
  EXPECT_EQ(std::count_if(second.begin(), second.end(), [](const Json& e) { return e.at(0) == "CPU"; }), 1);
  // The configuration zeroed the table's registry values.
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", kStats + "Available Bytes"}, {"value", 0}}), 0) << r.transcript();
  for (const Json& e : r.named("log"))
    EXPECT_FALSE(e.value("text", "").starts_with("Failed to add counter")) << e.dump();
}

TEST_F(MetricsInRunner, ATickPublishesValuesAndTheHelpdeskGetsItsOwn) {
  const HostRun r = run({kWait, kCollect, config("brask_helpdesk", {metric("AVAIL", "Memory", "Available Bytes")}),
                         config("other", {metric("QUEUE", "System", "Processor Queue Length")}), {{"cmd", "tick"}},
                         {{"cmd", "regget"}, {"path", kStats + "Available Bytes"}},
                         {{"cmd", "regget"}, {"path", kStats + "Pages Input per sec"}}, {{"cmd", "exit"}}},
                        {"--helpdesk"});
  ASSERT_EQ(r.exitCode, 0) << r.transcript();
  const long tick = r.find({{"event", "ticked"}});
  ASSERT_GE(tick, 0) << r.transcript();
  EXPECT_GE(r.find({{"event", "registry"}, {"path", kStats + "Available Bytes"}, {"value", 3072000000}}), tick)
      << r.transcript();
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", kStats + "Processor Queue Length"}, {"value", 3}}), 0);
  // A rate has no value on its first collection: its registry value stays 0.
  EXPECT_GE(r.find({{"event", "registry"}, {"path", kStats + "Pages Input per sec"}, {"value", 0}}), 0);
  const auto messages = r.named("message");
  ASSERT_EQ(messages.size(), 1u) << r.transcript();
  EXPECT_EQ(entryValue(messages[0].at("bag"), "AVAIL"), 3072000000) << r.transcript();
  EXPECT_EQ(entryValue(messages[0].at("bag"), "QUEUE"), nullptr);
  // Values and zeroes again when the plug-in stops.
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", kStats + "Available Bytes"}, {"value", 0}}, tick), 0)
      << r.transcript();
}

}  // namespace
