// Running varnel-host as a child process with pipes on stdin, stdout and stderr.
#include "support/linux/runner_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace statrix_test {

namespace {

// Both ends of a pipe, closed when it goes.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  }
  ~Pipe() {
    closeEnd(0);
    closeEnd(1);
  }
  void closeEnd(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : extra) vars[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

bool containsFields(const Json& event, const Json& fields) {
  for (const auto& [key, value] : fields.items()) {
    auto it = event.find(key);
    if (it == event.end() || *it != value) return false;
  }
  return true;
}

}  // namespace

std::string hostBinary() { return std::string(STATRIX_BIN_DIR) + "/varnel-host"; }
std::string pluginLibrary() { return std::string(STATRIX_BIN_DIR) + "/statrix.so"; }

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
  signal(SIGPIPE, SIG_IGN);
  Pipe in, out, err;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);

  std::vector<std::string> argStrings{hostBinary()};
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStrings = environmentWith(options.env);
  std::vector<char*> argv = pointers(argStrings), envp = pointers(envStrings);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(rc));
  in.closeEnd(0);
  out.closeEnd(1);
  err.closeEnd(1);
  fcntl(in.fd[1], F_SETFL, O_NONBLOCK);

  HostRun run;
  std::string stdoutText;
  size_t written = 0;
  if (options.input.empty()) in.closeEnd(1);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + options.timeout;
  const Clock::time_point signalAt = Clock::now() + options.signalAfter;
  bool signalPending = options.signal != 0;
  auto msUntil = [](Clock::time_point t) {
    return std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count() + 1);
  };
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    if (signalPending && Clock::now() >= signalAt) {
      kill(pid, options.signal);
      signalPending = false;
    }
    if (!run.timedOut && Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      run.timedOut = true;
      in.closeEnd(1);
    }
    // After the kill, wait only for the pipes to close.
    long waitMs = run.timedOut ? 1000 : msUntil(deadline);
    if (signalPending) waitMs = std::min(waitMs, msUntil(signalAt));
    pollfd fds[3] = {{in.fd[1], POLLOUT, 0}, {out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    if (poll(fds, 3, static_cast<int>(waitMs)) < 0 && errno != EINTR) break;
    if (in.fd[1] >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(in.fd[1], options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN) || written == options.input.size()) in.closeEnd(1);
    }
    std::pair<Pipe*, std::string*> readers[] = {{&out, &stdoutText}, {&err, &run.stderrText}};
    for (int i = 0; i < 2; ++i) {
      if (fds[i + 1].revents == 0) continue;
      char buffer[8192];
      ssize_t n = read(readers[i].first->fd[0], buffer, sizeof buffer);
      if (n > 0) readers[i].second->append(buffer, static_cast<size_t>(n));
      else if (n == 0 || errno != EINTR) readers[i].first->closeEnd(0);
    }
  }
  in.closeEnd(1);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  std::istringstream lines(stdoutText);
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
