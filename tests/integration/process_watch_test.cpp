// The process watch inside the runner: process alarms, the consumer list and session figures over a fixture.
#include <gtest/gtest.h>

#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::Json;

TEST(ProcessWatchInRunner, MemoryAlarmsListTheConsumersAndTheMessageCarriesTheSessions) {
  statrix_test::ScratchDir registry;
  statrix_test::FixtureTree tree;
  tree.setMeminfo(1000000, 500000, 100000, 50000);  // load 50, 50000 kB of swap in use
  tree.addProcess({100, "init", 50, 20, 10, 1000, 0, 4294967295u, 0});
  tree.addProcess({200, "editor.bin", 300, 40, 5000, 300000, 0, 2, 3999999});  // 30 %, owner unknown
  tree.addProcess({300, "db", 100, 0, 6000, 150000, 50000, 3, 0});              // 15 %

  const statrix_test::HostRun run = statrix_test::runScript(
      {{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}}, {{"cmd", "tick"}}, {{"cmd", "exit"}}},
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

}  // namespace
