// Drives varnel-host as a child process for integration tests.
//
// Give it arguments and a script on stdin; get back its events (stdout lines parsed as JSON),
// stderr and exit status:
//
//   statrix_test::HostRun run = statrix_test::runScript(
//       {{{"cmd", "waitWorker"}, {"name", "perfmon"}, {"timeout_ms", 5000}}, {{"cmd", "exit"}}},
//       {"--registry", dir.path()});
//   ASSERT_EQ(run.exitCode, 0) << run.transcript();
//   EXPECT_GE(run.find({{"event", "exited"}}), 0);
//
// Every call waits for the runner to end; a runner that outlives the time-out is killed and
// reported with timedOut set.
#pragma once
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace statrix_test {

using Json = nlohmann::ordered_json;

struct HostRun {
  int exitCode = -1;      // exit status; -1 when the runner did not exit by itself
  bool timedOut = false;  // killed after the time-out
  std::vector<std::string> stdoutLines;
  std::vector<Json> events;  // the stdout lines that are JSON objects, in order
  std::string stderrText;

  // The events whose "event" field is `name`, in order.
  std::vector<Json> named(std::string_view name) const;
  // Index of the first event at or after `from` that has every member of `fields` with an
  // equal value (other members are not looked at); -1 when there is none.
  long find(const Json& fields, size_t from = 0) const;
  bool has(const Json& fields) const { return find(fields) >= 0; }
  // stdout, stderr and the exit status as text, for failure messages.
  std::string transcript() const;
};

struct HostOptions {
  std::vector<std::string> args;                         // after the program name
  std::string input;                                     // what stdin reads (from a file)
  std::chrono::milliseconds timeout{60000};              // then the runner is killed
  std::vector<std::pair<std::string, std::string>> env;  // set in the runner's environment
  int signal = 0;                                        // if not 0, sent to the runner once
  std::chrono::milliseconds signalAfter{0};              // ... this long after its start
};

// The runner of this build tree.
std::string hostBinary();

HostRun runHost(const HostOptions& options);

// Script mode ("--script -" then `args`): one command per line on stdin.
HostRun runScript(const std::vector<Json>& commands, const std::vector<std::string>& args = {},
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));

}  // namespace statrix_test
