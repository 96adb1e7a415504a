// The "perfmon" worker through the runner: only an administrator may update the counter store;
// a user and a failed impersonation are refused.
#include <gtest/gtest.h>

#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;

Json update(const std::string& value, const std::string& caller) {
  return {{"op", "update"},
          {"worker", "perfmon"},
          {"caller", caller},
          {"request", {{"globalCounters", {{"AllSessions", value}}}}}};
}

TEST(PerfmonService, OnlyAnAdministratorMayUpdateTheCounterStore) {
  statrix_test::ScratchDir registry;
  HostRun run = statrix_test::runScript(
      {{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}}, update("5", "unknown"),
       update("6", "user"), update("7", "admin"), {{"op", "collect"}, {"worker", "perfmon"}, {"caller", "unknown"}}},
      {"--registry", registry.path(), "--manual-timers"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const std::vector<Json> replies = run.named("reply");
  ASSERT_EQ(replies.size(), 4u) << run.transcript();
  const Json refused = {{"code", 5}, {"text", "NotAuthorized"}};
  for (int i : {0, 1}) {
    EXPECT_EQ(replies[i]["result"], false) << run.transcript();
    EXPECT_EQ(replies[i].value("error", Json()), refused) << run.transcript();
  }
  EXPECT_EQ(replies[2]["result"], true) << run.transcript();
  EXPECT_FALSE(replies[2].contains("error")) << run.transcript();

  const Json& reply = replies[3]["reply"];
  ASSERT_EQ(reply.size(), 1u) << run.transcript();
  EXPECT_EQ(reply[0][0], "globalCounters");
  ASSERT_EQ(reply[0][2].size(), 16u) << run.transcript();
  EXPECT_EQ(reply[0][2][0], Json::array({"AllSessions", "str", "7"})) << run.transcript();
}

}  // namespace
