// Running varnel-host as a child process: the script from a file on stdin, stdout and stderr to files.
#include "support/linux/runner_driver.h"

#include <signal.h>

#include <optional>
#include <sstream>

#include "support/linux/child_process.h"
#include "support/linux/scratch_dir.h"

namespace statrix_test {

namespace {

bool containsFields(const Json& event, const Json& fields) {
  for (const auto& [key, value] : fields.items()) {
    auto it = event.find(key);
    if (it == event.end() || *it != value) return false;
  }
  return true;
}

}  // namespace

std::string hostBinary() { return std::string(STATRIX_BIN_DIR) + "/varnel-host"; }

std::vector<Json> HostRun::named(std::string_view name) const {
  std::vector<Json> out;
  for (const Json& e : events)
    if (e.value("event", "") == name) out.push_back(e);
  return out;
}

long HostRun::find(const Json& fields, size_t from) const {
  for (size_t i = from; i < events.size(); ++i)
    if (containsFields(events[i], fields)) return static_cast<long>(i);
  return -1;
}

std::string HostRun::transcript() const {
  std::ostringstream out;
  out << "exit status " << exitCode << (timedOut ? " (killed after the time-out)" : "") << "\n--- stdout\n";
  for (const std::string& l : stdoutLines) out << l << "\n";
  out << "--- stderr\n" << stderrText;
  return out.str();
}

HostRun runHost(const HostOptions& options) {
  ScratchDir dir;
  std::vector<std::string> argv{hostBinary()};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  ChildProcess runner(argv, options.env, dir.path() + "/runner", dir.write("input", options.input));
  if (options.signal != 0) {
    runner.wait(options.signalAfter);
    runner.signal(options.signal);
  }
  HostRun run;
  std::optional<int> code = runner.wait(options.timeout);
  if (!code) {
    run.timedOut = true;
    runner.signal(SIGKILL);
    code = runner.wait(std::chrono::seconds(60));
  }
  run.exitCode = code.value_or(-1);
  run.stderrText = readFile(dir.path() + "/runner.err");
  std::istringstream lines(readFile(dir.path() + "/runner.out"));
  for (std::string line; std::getline(lines, line);) {
    run.stdoutLines.push_back(line);
    Json event = Json::parse(line, nullptr, false);
    if (!event.is_discarded() && event.is_object()) run.events.push_back(std::move(event));
  }
  return run;
}

HostRun runScript(const std::vector<Json>& commands, const std::vector<std::string>& args,
                  std::chrono::milliseconds timeout) {
  HostOptions options;
  options.args = {"--script", "-"};
  options.args.insert(options.args.end(), args.begin(), args.end());
  for (const Json& c : commands) options.input += c.dump() + "\n";
  options.timeout = timeout;
  return runHost(options);
}

}  // namespace statrix_test
