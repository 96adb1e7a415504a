// varnel-host end to end with the plug-in of this build: the command line, human mode, script
// mode and the "perfmon" worker's requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "support/linux/child_process.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostOptions;
using statrix_test::HostRun;
using statrix_test::Json;
using statrix_test::ScratchDir;

const std::string kKey = "HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";

HostRun start(std::vector<std::string> args) {
  HostOptions options;
  options.args = std::move(args);
  return statrix_test::runHost(options);
}

std::string stdoutText(const HostRun& run) {
  std::string all;
  for (const std::string& l : run.stdoutLines) all += l + "\n";
  return all;
}

TEST(RunnerStartup, FailuresExitWithStatusTwoAndOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--script", "-", "--plugin", "/nonexistent/dir/statrix.so"}, "/nonexistent/dir/statrix.so"},
      {{"--script", "-", "--plugin", std::string(STATRIX_BIN_DIR) + "/libvarnel.so"}, "does not export PluginInit"},
      {{"--bogus"}, ""},
      {{"--seconds", "soon"}, ""},
      {{"--param", "x"}, ""},
      {{"extra"}, ""},
      {{"--script", "/nonexistent/script"}, ""}};
  for (const auto& [args, reason] : cases) {
    HostRun run = start(args);
    EXPECT_EQ(run.exitCode, 2) << args.back() << "\n" << run.transcript();
    EXPECT_EQ(std::count(run.stderrText.begin(), run.stderrText.end(), '\n'), 1) << run.transcript();
    EXPECT_NE(run.stderrText.find(reason), std::string::npos) << run.transcript();
    EXPECT_TRUE(run.stdoutLines.empty()) << run.transcript();
  }
}

TEST(RunnerStartup, HelpListsTheOptions) {
  HostRun run = start({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option : {"--plugin", "--registry", "--procfs", "--param", "--set", "--helpdesk", "--seconds",
                             "--script", "--json", "--manual-timers", "--trace-threads", "--level"})
    EXPECT_NE(stdoutText(run).find(option), std::string::npos) << option;
}

TEST(RunnerStartup, HumanModeRunsForTheGivenTimeOrUntilSigintOrSigterm) {
  HostRun run = start({"--seconds", "1"});
  EXPECT_EQ(run.exitCode, 0) << run.transcript();
  EXPECT_TRUE(run.events.empty()) << run.transcript();  // readable lines, no JSON
  for (const char* text : {"loaded module statrix.so", "PluginInit: true", "PluginExit done"})
    EXPECT_NE(stdoutText(run).find(text), std::string::npos) << run.transcript();

  for (int sig : {SIGINT, SIGTERM}) {
    HostOptions options;
    options.signal = sig;
    options.signalAfter = std::chrono::milliseconds(500);
    options.timeout = std::chrono::seconds(30);
    HostRun stopped = statrix_test::runHost(options);
    EXPECT_EQ(stopped.exitCode, 0) << "signal " << sig << "\n" << stopped.transcript();
    ASSERT_FALSE(stopped.stdoutLines.empty());
    EXPECT_TRUE(stopped.stdoutLines.back().ends_with("plug-in unloaded")) << stopped.transcript();
  }
}

TEST(RunnerStartup, JsonHumanModePrintsOnlyEvents) {
  HostRun json = start({"--json", "--seconds", "0"});
  EXPECT_EQ(json.exitCode, 0) << json.transcript();
  EXPECT_EQ(json.events.size(), json.stdoutLines.size()) << json.transcript();
  EXPECT_GE(json.find({{"event", "exited"}}), 0) << json.transcript();
}

TEST(RunnerScript, BadAndHostileLinesAreReportedAndTheNextOneRuns) {
  ScratchDir registry;
  HostOptions options;
  options.args = {"--script", "-", "--registry", registry.path()};
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(10000, '}');
  options.input = "{\"cmd\":\"sleep\",\"ms\":1}\n"
                  "{\"cmd\":\"regget\",\"path\":\n"
                  "{\"cmd\":\"teleport\"}\n"
                  "{\"cmd\":\"sleep\",\"ms\":1e999}\n"
                  "1e400\n"
                  "{\"cmd\":\"tick\"}" + std::string(1, '\0') + "{{{garbage\n" +
                  "{\"op\":\"collect\",\"request\":" + deep + "}\n" +
                  std::string(100000, '[') + "\n" +
                  "{\"cmd\":\"regset\",\"path\":\"HKLM\\\\Software\\\\A\\\\name\\u0000tail\",\"type\":\"sz\",\"value\":\"x\"}\n"
                  "{\"cmd\":\"regget\",\"path\":\"HKLM\\\\Software\\\\Nothing\\\\Here\"}\n";
  HostRun run = statrix_test::runHost(options);
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  std::vector<Json> errors = run.named("error");
  ASSERT_EQ(errors.size(), 8u) << run.transcript();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(errors[i]["line"], i + 2) << run.transcript();
  EXPECT_EQ(errors[1]["text"], "unknown command \"teleport\"");
  EXPECT_EQ(run.named("ticked").size(), 0u) << "the line with a NUL is refused whole";
  EXPECT_FALSE(std::filesystem::exists(registry.path() + "/HKLM/Software/A/name"));
  long last = run.find({{"event", "error"}, {"line", 9}});
  EXPECT_GT(run.find({{"event", "registry"}, {"path", "HKLM\\Software\\Nothing\\Here"}, {"value", nullptr}}, last),
            last)
      << run.transcript();
  EXPECT_EQ(run.named("exited").size(), 1u) << run.transcript();
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
  Json got = Json::array();
  for (const Json& e : run.named("registry")) got.push_back({e["type"], e["value"]});
  EXPECT_EQ(got, Json::parse(R"([["dword",85],["sz","a*;b?"],["sz",)" + Json(tricky).dump() +
                             R"(],["dword",4294967295],["multi_sz",["a","b c"]],[null,null]])"))
      << run.transcript();
  // --registry reached the layer: the values live under the given root.
  EXPECT_TRUE(statrix_test::readFile(registry.path() + "/HKLM/Software/Vantrel/Orvane/Performance Alarms/"
                                                       "OverallCpuPercentage")
                  .starts_with("dword:85"));
}

TEST(RunnerScript, HelpdeskWorkerComesAndGoes) {
  const Json waitAbsent = {
      {"cmd", "waitWorker"}, {"name", "AgentHelpDesk"}, {"timeout_ms", 2000}, {"installed", false}};
  HostRun run = statrix_test::runScript({{{"cmd", "waitWorker"}, {"name", "AgentHelpDesk"}, {"timeout_ms", 0}},
                                         {{"cmd", "helpdesk"}, {"installed", false}},
                                         waitAbsent,
                                         {{"cmd", "helpdesk"}, {"installed", false}},
                                         {{"cmd", "helpdesk"}, {"installed", true}},
                                         {{"cmd", "waitWorker"}, {"name", "AgentHelpDesk"}, {"timeout_ms", 2000}}},
                                        {"--helpdesk"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  auto find = [&](Json fields, size_t from = 0) {
    fields.update({{"event", "worker"}, {"name", "AgentHelpDesk"}});
    return run.find(fields, from);
  };
  // --helpdesk installs it before the plug-in is loaded.
  long added = find({{"action", "added"}});
  ASSERT_GE(added, 0) << run.transcript();
  EXPECT_GT(run.find({{"event", "loaded"}}), added) << run.transcript();
  long present = find({{"installed", true}});
  long removed = find({{"action", "removed"}});
  long absent = find({{"installed", false}});
  EXPECT_GT(present, added);
  EXPECT_GT(removed, present);
  EXPECT_GT(absent, removed);
  // Removing it twice is reported (the plug-in's own events may come in between).
  ASSERT_GE(absent, 0) << run.transcript();
  long twice = run.find({{"event", "error"}, {"line", 4}}, absent);
  ASSERT_GT(twice, absent) << run.transcript();
  EXPECT_GT(find({{"action", "added"}}, twice), twice) << run.transcript();
}

Json update(const std::string& value, const std::string& caller) {
  return {{"op", "update"},
          {"worker", "perfmon"},
          {"caller", caller},
          {"request", {{"globalCounters", {{"AllSessions", value}}}}}};
}

// Only an administrator may update the counter store; a user and a failed impersonation are
// refused. A request to a worker that is not there is the host's error; parameters are taken.
TEST(PerfmonService, OnlyAnAdministratorMayUpdateTheCounterStore) {
  ScratchDir registry;
  HostRun run = statrix_test::runScript(
      {{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 20000}}, update("5", "unknown"),
       update("6", "user"), update("7", "admin"), {{"op", "collect"}, {"worker", "perfmon"}, {"caller", "unknown"}},
       {{"op", "collect"}, {"worker", "nobody"}}, {{"cmd", "params"}, {"bag", {{"PulseTimerDelay", 0}}}},
       {{"cmd", "params"}, {"bag", nullptr}}},
      {"--registry", registry.path(), "--manual-timers"});
  ASSERT_EQ(run.exitCode, 0) << run.transcript();
  const std::vector<Json> replies = run.named("reply");
  ASSERT_EQ(replies.size(), 5u) << run.transcript();
  EXPECT_EQ(replies[4].dump(), R"({"event":"reply","op":"collect","result":false,"host_error":"worker not installed"})");
  EXPECT_EQ(run.named("params"), std::vector<Json>(2, {{"event", "params"}, {"result", true}})) << run.transcript();
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
