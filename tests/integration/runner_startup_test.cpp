// varnel-host's command line, start-up failures and human mode end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

using statrix_test::HostOptions;
using statrix_test::HostRun;

HostRun start(std::vector<std::string> args) {
  HostOptions options;
  options.args = std::move(args);
  return statrix_test::runHost(options);
}

size_t lineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(RunnerStartup, MissingPluginExitsWithOneLine) {
  HostRun run = start({"--script", "-", "--plugin", "/nonexistent/dir/statrix.so"});
  EXPECT_EQ(run.exitCode, 2) << run.transcript();
  EXPECT_EQ(lineCount(run.stderrText), 1u) << run.transcript();
  EXPECT_NE(run.stderrText.find("/nonexistent/dir/statrix.so"), std::string::npos) << run.transcript();
  EXPECT_EQ(run.find({{"event", "loaded"}}), -1);
}

TEST(RunnerStartup, LibraryWithoutExportsExitsWithOneLine) {
  HostRun run = start({"--script", "-", "--plugin", std::string(STATRIX_BIN_DIR) + "/libvarnel.so"});
  EXPECT_EQ(run.exitCode, 2) << run.transcript();
  EXPECT_EQ(lineCount(run.stderrText), 1u) << run.transcript();
  EXPECT_NE(run.stderrText.find("does not export PluginInit"), std::string::npos) << run.transcript();
}

TEST(RunnerStartup, BadCommandLinesExitWithOneLine) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--seconds", "soon"}, {"--param", "x"}, {"extra"}, {"--script", "/nonexistent/script"}}) {
    HostRun run = start(args);
    EXPECT_EQ(run.exitCode, 2) << args[0] << "\n" << run.transcript();
    EXPECT_EQ(lineCount(run.stderrText), 1u) << run.transcript();
    EXPECT_TRUE(run.stdoutLines.empty()) << run.transcript();
  }
}

TEST(RunnerStartup, HelpListsTheOptions) {
  HostRun run = start({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  std::string all;
  for (const std::string& l : run.stdoutLines) all += l + "\n";
  for (const char* option : {"--plugin", "--registry", "--procfs", "--param", "--set", "--helpdesk", "--seconds",
                             "--script", "--json", "--manual-timers", "--trace-threads", "--level"})
    EXPECT_NE(all.find(option), std::string::npos) << option;
}

TEST(RunnerStartup, HumanModeRunsForTheGivenTime) {
  HostRun run = start({"--seconds", "1"});
  EXPECT_EQ(run.exitCode, 0) << run.transcript();
  EXPECT_TRUE(run.events.empty()) << run.transcript();  // readable lines, no JSON
  std::string all;
  for (const std::string& l : run.stdoutLines) all += l + "\n";
  EXPECT_NE(all.find("loaded module statrix.so"), std::string::npos) << run.transcript();
  EXPECT_NE(all.find("PluginInit: true"), std::string::npos) << run.transcript();
  EXPECT_NE(all.find("PluginExit done"), std::string::npos) << run.transcript();
}

TEST(RunnerStartup, HumanModeStopsAtSigintAndSigterm) {
  for (int sig : {SIGINT, SIGTERM}) {
    HostOptions options;
    options.signal = sig;
    options.signalAfter = std::chrono::milliseconds(500);
    options.timeout = std::chrono::seconds(30);
    HostRun run = statrix_test::runHost(options);
    EXPECT_EQ(run.exitCode, 0) << "signal " << sig << "\n" << run.transcript();
    ASSERT_FALSE(run.stdoutLines.empty());
    EXPECT_TRUE(run.stdoutLines.back().ends_with("plug-in unloaded")) << run.transcript();
  }
}

TEST(RunnerStartup, DriverKillsARunnerThatOutlivesItsTimeOut) {
  HostOptions options;
  options.timeout = std::chrono::milliseconds(300);
  HostRun run = statrix_test::runHost(options);
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.exitCode, -1);
}

TEST(RunnerStartup, JsonHumanModeAndScriptFile) {
  HostRun json = start({"--json", "--seconds", "0"});
  EXPECT_EQ(json.exitCode, 0) << json.transcript();
  EXPECT_EQ(json.events.size(), json.stdoutLines.size()) << json.transcript();
  EXPECT_GE(json.find({{"event", "exited"}}), 0) << json.transcript();

  statrix_test::ScratchDir dir;
  std::string script = dir.write("script.jsonl", "{\"cmd\":\"params\",\"bag\":[]}\n{\"cmd\":\"exit\"}\n");
  HostRun run = start({"--script", script});
  EXPECT_EQ(run.exitCode, 0) << run.transcript();
  EXPECT_GE(run.find({{"event", "params"}, {"result", true}}), 0) << run.transcript();
  EXPECT_EQ(run.events.size(), run.stdoutLines.size()) << run.transcript();
}

}  // namespace
