// Counter metrics through the runner: another plug-in's configuration, replies, a tick's registry
// values and help-desk message, and a second display language.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <filesystem>

#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;

constexpr const char* kStats = "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\";

Json metric(const char* name, const char* object, const char* counter, const char* instance = "") {
  return Json::array({Json::array({"isAdd", "bool", true}), Json::array({"strMetricName", "str", name}),
                      Json::array({"strCounterObject", "str", object}), Json::array({"strCounter", "str", counter}),
                      Json::array({"strInstance", "str", instance})});
}

Json config(const char* plugin, std::vector<Json> metrics) {
  Json bag = Json::array({Json::array({"plugin_name", "str", plugin})});
  for (Json& m : metrics) bag.push_back(Json::array({"statrixMetrics", "bag", std::move(m)}));
  return {{"op", "configPerfmonMetrics"}, {"request", bag}};
}

const Json kCollect = {{"op", "collectCpuAndMem"}, {"request", Json::object()}};
const Json kWait = {{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}};

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

TEST_F(MetricsInRunner, AnotherPluginsMetricsComeBackInTheNextReply) {
  const HostRun r = run({kWait, config("other", {metric("EARLY", "Memory", "Available Bytes")}), kCollect,
                         config("other", {metric("AVAIL", "Memory", "Available Bytes"),
                                          metric("CPU", "Memory", "Available Bytes")}),
                         kCollect, {{"cmd", "exit"}}});
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
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", std::string(kStats) + "Available Bytes"}, {"value", 0}}), 0)
      << r.transcript();
}

TEST_F(MetricsInRunner, ATickPublishesValuesAndTheHelpdeskGetsItsOwn) {
  const HostRun r = run({kWait, kCollect, config("brask_helpdesk", {metric("AVAIL", "Memory", "Available Bytes")}),
                         config("other", {metric("QUEUE", "System", "Processor Queue Length")}), {{"cmd", "tick"}},
                         {{"cmd", "regget"}, {"path", std::string(kStats) + "Available Bytes"}},
                         {{"cmd", "regget"}, {"path", std::string(kStats) + "Pages Input per sec"}},
                         {{"cmd", "exit"}}},
                        {"--helpdesk"});
  ASSERT_EQ(r.exitCode, 0) << r.transcript();
  const long tick = r.find({{"event", "ticked"}});
  ASSERT_GE(tick, 0) << r.transcript();
  EXPECT_GE(r.find({{"event", "registry"}, {"path", std::string(kStats) + "Available Bytes"}, {"value", 3072000000}}),
            tick)
      << r.transcript();
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", std::string(kStats) + "Processor Queue Length"}, {"value", 3}}), 0);
  // A rate has no value on its first collection: its registry value stays 0.
  EXPECT_GE(r.find({{"event", "registry"}, {"path", std::string(kStats) + "Pages Input per sec"}, {"value", 0}}), 0);
  const auto messages = r.named("message");
  ASSERT_EQ(messages.size(), 1u) << r.transcript();
  EXPECT_EQ(entryValue(messages[0].at("bag"), "AVAIL"), 3072000000) << r.transcript();
  EXPECT_EQ(entryValue(messages[0].at("bag"), "QUEUE"), nullptr);
  // Values and zeroes again when the plug-in stops.
  EXPECT_GE(r.find({{"event", "regwrite"}, {"path", std::string(kStats) + "Available Bytes"}, {"value", 0}}, tick), 0)
      << r.transcript();
}

TEST_F(MetricsInRunner, SecondDisplayLanguage) {
  const auto dir = std::filesystem::path(registry.path()) /
                   "HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "Counter") << "multi_sz:\n2\nSysteem\n4\nGeheugen\n24\nBeschikbare bytes\n44\n"
                                    "Lengte processorwachtrij\n";
  const HostRun r = run({kWait, kCollect, config("other", {metric("AVAIL", "Memory", "Available Bytes")}), kCollect,
                         {{"cmd", "exit"}}},
                        {"--level", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.transcript();
  const auto replies = r.named("reply");
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(entryValue(replies[2].at("reply"), "AVAIL"), 3072000000) << r.transcript();
  EXPECT_EQ(entryValue(replies[2].at("reply"), "PROCESSOR_QUEUE_LENGTH"), 3);
  for (const Json& e : r.named("log"))
    EXPECT_FALSE(e.value("text", "").starts_with("Failed to add counter")) << e.dump();
}

}  // namespace
