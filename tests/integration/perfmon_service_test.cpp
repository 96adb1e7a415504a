// The "perfmon" worker through the runner: who may update the counter store, how operation
// names are matched, the watch figures, and the pulse timer's lines up to shut-down.
#include <gtest/gtest.h>

#include <string>

#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;
using statrix_test::ScratchDir;

const Json kWaitForPerfmon = {{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}};

Json request(const std::string& op, const Json& bag, const std::string& caller = "admin") {
  return {{"op", op}, {"worker", "perfmon"}, {"caller", caller}, {"request", bag}};
}

Json counterUpdate(const std::string& name, const std::string& value) {
  return Json::object({{"globalCounters", Json::object({{name, value}})}});
}

// The value of `name` in a reply bag given as [name, type, value] entries; null when absent.
Json entry(const Json& bag, const std::string& name) {
  for (const Json& e : bag)
    if (e[0] == name) return e;
  return nullptr;
}

TEST(PerfmonService, OnlyAnAdministratorMayUpdateTheCounterStore) {
  ScratchDir registry;
  HostRun run = statrix_test::runScript({kWaitForPerfmon,
                                         request("update", counterUpdate("AllSessions", "5"), "unknown"),
                                         request("update", counterUpdate("AllSessions", "6"), "user"),
                                         request("update", counterUpdate("AllSessions", "7"), "admin"),
                                         request("collect", Json::object(), "unknown")},
                                        {"--registry", registry.path(), "--manual-timers"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const std::vector<Json> replies = run.named("reply");
  ASSERT_EQ(replies.size(), 4u) << run.transcript();
  for (int refused : {0, 1}) {
    EXPECT_EQ(replies[refused]["result"], false) << run.transcript();
    EXPECT_EQ(replies[refused].value("error", Json()), Json({{"code", 5}, {"text", "NotAuthorized"}})) << run.transcript();
  }
  EXPECT_EQ(replies[2]["result"], true) << run.transcript();
  EXPECT_FALSE(replies[2].contains("error")) << run.transcript();

  const Json store = entry(replies[3]["reply"], "globalCounters");
  ASSERT_TRUE(store.is_array()) << run.transcript();
  EXPECT_EQ(store[1], "bag");
  ASSERT_EQ(store[2].size(), 16u) << run.transcript();
  EXPECT_EQ(store[2][0], Json::array({"AllSessions", "str", "7"})) << run.transcript();
}

TEST(PerfmonService, NamesMatchWholeIgnoringCaseAndOthersAreNotImplemented) {
  ScratchDir registry;
  HostRun run = statrix_test::runScript({kWaitForPerfmon, request("COLLECTCPUANDMEM", Json::object()),
                                         request("collectCpu", Json::object())},
                                        {"--registry", registry.path(), "--manual-timers"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const std::vector<Json> replies = run.named("reply");
  ASSERT_EQ(replies.size(), 2u) << run.transcript();

  EXPECT_EQ(replies[0]["result"], true) << run.transcript();
  for (const char* key : {"CPU", "MEM", "TOTAL_MEMORY", "FREE_MEMORY"}) {
    const Json e = entry(replies[0]["reply"], key);
    ASSERT_TRUE(e.is_array()) << key << "\n" << run.transcript();
    EXPECT_EQ(e[1], "i64") << key;
  }

  EXPECT_EQ(replies[1]["result"], false) << run.transcript();
  EXPECT_EQ(replies[1].value("error", Json::object()).value("code", 0), 120) << run.transcript();
  EXPECT_GE(run.find({{"event", "log"},
                      {"level", 0},
                      {"source", "statrix"},
                      {"text", "Service operation: collectCpu NOT IMPLEMENTED"}}),
            0)
      << run.transcript();
}

TEST(PerfmonService, PulseTimerWarnsOfLatePulsesAndEndsBeforeTheExitCompletes) {
  ScratchDir registry;
  // A warning threshold below the period makes every pulse a late one.
  HostRun run = statrix_test::runScript({kWaitForPerfmon, {{"cmd", "sleep"}, {"ms", 400}}, {{"cmd", "exit"}}},
                                        {"--registry", registry.path(), "--manual-timers", "--param",
                                         "PulseTimerDelay=100", "--param", "PulseTimerWarn=1"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const long started = run.find({{"event", "log"}, {"level", 1}, {"source", "statrix"}, {"text", "PulseTimer started"}});
  ASSERT_GE(started, 0) << run.transcript();
  long delayed = -1;
  for (size_t i = 0; i < run.events.size(); ++i) {
    const Json& e = run.events[i];
    if (e.value("event", "") == "log" && e.value("level", -1) == 3 &&
        e.value("text", "").rfind("PulseTimer pulse 0 delay ", 0) == 0) {
      delayed = static_cast<long>(i);
      EXPECT_EQ(e["source"], "statrix");
      EXPECT_EQ(e["text"].get<std::string>().substr(e["text"].get<std::string>().size() - 8), " DELAYED");
      break;
    }
  }
  EXPECT_GT(delayed, started) << run.transcript();
  const long finished = run.find({{"event", "log"}, {"level", 1}, {"text", "PulseTimer finished"}});
  const long gone = run.find({{"event", "log"}, {"text", "varnelPluginDll: all threads gone"}});
  EXPECT_GT(finished, delayed) << run.transcript();
  EXPECT_GT(gone, finished) << run.transcript();
}

}  // namespace
