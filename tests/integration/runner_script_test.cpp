// varnel-host in script mode end to end, with the plug-in of this build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostRun;
using statrix_test::Json;
using statrix_test::ScratchDir;

const std::string kKey = "HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";

TEST(RunnerScript, BadLineIsReportedAndTheNextOneRuns) {
  ScratchDir registry;
  statrix_test::HostOptions options;
  options.args = {"--script", "-", "--registry", registry.path()};
  options.input =
      "{\"cmd\":\"sleep\",\"ms\":1}\n"
      "{\"cmd\":\"regget\",\"path\":\n"
      "{\"cmd\":\"teleport\"}\n"
      "{\"cmd\":\"regget\",\"path\":\"HKLM\\\\Software\\\\Nothing\\\\Here\"}\n";
  HostRun run = statrix_test::runHost(options);
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  std::vector<Json> errors = run.named("error");
  ASSERT_EQ(errors.size(), 2u) << run.transcript();
  EXPECT_EQ(errors[0]["line"], 2);
  EXPECT_EQ(errors[1]["line"], 3);
  EXPECT_EQ(errors[1]["text"], "unknown command \"teleport\"");
  long second = run.find({{"event", "error"}, {"line", 3}});
  EXPECT_GT(run.find({{"event", "registry"}, {"path", "HKLM\\Software\\Nothing\\Here"}, {"value", nullptr}}, second),
            second)
      << run.transcript();
}

TEST(RunnerScript, HostileLinesNeverEndTheRunner) {
  ScratchDir registry;
  statrix_test::HostOptions options;
  options.args = {"--script", "-", "--registry", registry.path()};
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(10000, '}');
  options.input = "{\"cmd\":\"sleep\",\"ms\":1e999}\n"
                  "1e400\n"
                  "{\"cmd\":\"tick\"}" + std::string(1, '\0') + "{{{garbage\n" +
                  "{\"op\":\"collect\",\"request\":" + deep + "}\n" +
                  std::string(100000, '[') + "\n" +
                  "{\"cmd\":\"regset\",\"path\":\"HKLM\\\\Software\\\\A\\\\name\\u0000tail\",\"type\":\"sz\",\"value\":\"x\"}\n";
  HostRun run = statrix_test::runHost(options);
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  std::vector<Json> errors = run.named("error");
  ASSERT_EQ(errors.size(), 6u) << run.transcript();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(errors[i]["line"], i + 1) << run.transcript();
  EXPECT_EQ(run.named("ticked").size(), 0u) << "the line with a NUL is refused whole";
  EXPECT_FALSE(std::filesystem::exists(registry.path() + "/HKLM/Software/A/name"));
  EXPECT_EQ(run.named("exited").size(), 1u) << run.transcript();
}

TEST(RunnerScript, ExitShutsThePluginDownBeforeReportingExited) {
  HostRun run = statrix_test::runScript({{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}},
                                         {{"cmd", "exit"}},
                                         {{"cmd", "sleep"}, {"ms", 1}}});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  EXPECT_EQ(run.find({{"event", "loaded"}, {"module", "statrix.so"}}), 0) << run.transcript();
  long waiting = run.find({{"event", "log"}, {"source", "statrix"}, {"text", "varnelPluginDll wait for threads to go"}});
  long gone = run.find({{"event", "log"}, {"source", "statrix"}, {"text", "varnelPluginDll: all threads gone"}});
  long exited = run.find({{"event", "exited"}});
  ASSERT_GE(waiting, 0) << run.transcript();
  EXPECT_GT(gone, waiting) << run.transcript();
  EXPECT_GT(exited, gone) << run.transcript();
  EXPECT_EQ(run.events[waiting]["level"], 0);
  // PluginExit runs once: nothing more from the plug-in after "exited".
  EXPECT_EQ(run.named("exited").size(), 1u) << run.transcript();
  EXPECT_EQ(run.find({{"text", "varnelPluginDll wait for threads to go"}}, waiting + 1), -1);
}

TEST(RunnerScript, RegistryValuesRoundTrip) {
  ScratchDir registry;
  const std::string tricky = "%n%s \"quoted\" \\ caf\xC3\xA9 \xE2\x82\xAC";
  HostRun run = statrix_test::runScript(
      {{{"cmd", "regget"}, {"path", kKey + "OverallCpuPercentage"}},
       {{"cmd", "regget"}, {"path", kKey + "ProcessNames"}},
       {{"cmd", "regset"}, {"path", kKey + "Text"}, {"type", "sz"}, {"value", tricky}},
       {{"cmd", "regset"}, {"path", kKey + "Number"}, {"type", "dword"}, {"value", 4294967295u}},
       {{"cmd", "regset"}, {"path", kKey + "List"}, {"type", "multi_sz"}, {"value", {"a", "b c"}}},
       {{"cmd", "regget"}, {"path", kKey + "Text"}},
       {{"cmd", "regget"}, {"path", kKey + "Number"}},
       {{"cmd", "regget"}, {"path", kKey + "List"}},
       {{"cmd", "regget"}, {"path", kKey + "Absent"}}},
      {"--registry", registry.path(), "--set", "OverallCpuPercentage=85", "--set", "ProcessNames=a*;b?"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  std::vector<Json> regsets = run.named("regset");
  ASSERT_EQ(regsets.size(), 3u) << run.transcript();
  EXPECT_EQ(regsets[0]["path"], kKey + "Text");
  std::vector<Json> values = run.named("registry");
  ASSERT_EQ(values.size(), 6u) << run.transcript();
  auto typeAndValue = [](const Json& e) { return Json::array({e["type"], e["value"]}); };
  EXPECT_EQ(typeAndValue(values[0]), Json::array({"dword", 85}));
  EXPECT_EQ(typeAndValue(values[1]), Json::array({"sz", "a*;b?"}));
  EXPECT_EQ(typeAndValue(values[2]), Json::array({"sz", tricky}));
  EXPECT_EQ(typeAndValue(values[3]), Json::array({"dword", 4294967295u}));
  EXPECT_EQ(typeAndValue(values[4]), Json::array({"multi_sz", {"a", "b c"}}));
  EXPECT_EQ(typeAndValue(values[5]), Json::array({nullptr, nullptr}));

  // --registry reached the layer: the values live under the given root.
  std::ifstream file(registry.path() + "/HKLM/Software/Vantrel/Orvane/Performance Alarms/OverallCpuPercentage");
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str().substr(0, 8), "dword:85");
}

TEST(RunnerScript, HelpdeskWorkerComesAndGoes) {
  HostRun run = statrix_test::runScript({{{"cmd", "helpdesk"}, {"installed", true}},
                                         {{"cmd", "waitWorker"}, {"name", "AgentHelpDesk"}, {"timeout_ms", 2000}},
                                         {{"cmd", "helpdesk"}, {"installed", false}},
                                         {{"cmd", "waitWorker"},
                                          {"name", "AgentHelpDesk"},
                                          {"timeout_ms", 2000},
                                          {"installed", false}},
                                         {{"cmd", "helpdesk"}, {"installed", false}}});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  long added = run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"action", "added"}});
  long present = run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"installed", true}});
  long removed = run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"action", "removed"}});
  long absent = run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"installed", false}});
  ASSERT_GE(added, 0) << run.transcript();
  EXPECT_GT(present, added);
  EXPECT_GT(removed, present);
  EXPECT_GT(absent, removed);
  // Removing it twice is reported (the plug-in's own events may come in between).
  EXPECT_GT(run.find({{"event", "error"}, {"line", 5}}, absent), absent) << run.transcript();
}

TEST(RunnerScript, HelpdeskOptionInstallsBeforeLoading) {
  HostRun run = statrix_test::runScript({{{"cmd", "waitWorker"}, {"name", "AgentHelpDesk"}, {"timeout_ms", 0}}},
                                        {"--helpdesk"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  long added = run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"action", "added"}});
  EXPECT_GE(added, 0) << run.transcript();
  EXPECT_GT(run.find({{"event", "loaded"}}), added) << run.transcript();
  EXPECT_GE(run.find({{"event", "worker"}, {"name", "AgentHelpDesk"}, {"installed", true}}), 0) << run.transcript();
}

TEST(RunnerScript, RequestsAndParams) {
  HostRun run = statrix_test::runScript({{{"op", "collect"}, {"worker", "nobody"}},
                                         {{"cmd", "params"}, {"bag", {{"PulseTimerDelay", 0}}}},
                                         {{"cmd", "params"}, {"bag", nullptr}}});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  std::vector<Json> replies = run.named("reply");
  ASSERT_EQ(replies.size(), 1u) << run.transcript();
  EXPECT_EQ(replies[0].dump(), R"({"event":"reply","op":"collect","result":false,"host_error":"worker not installed"})");
  std::vector<Json> params = run.named("params");
  ASSERT_EQ(params.size(), 2u) << run.transcript();
  EXPECT_EQ(params[0]["result"], true);
  EXPECT_EQ(params[1]["result"], true);
}

}  // namespace
