// Background child processes and free loopback ports for tests.
#include "support/linux/child_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "support/linux/scratch_dir.h"

extern char** environ;

namespace statrix_test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::pair<std::string, std::string>>& env, const std::string& logPrefix,
                           const std::string& stdinPath)
    : logPrefix_(logPrefix) {
  // `env` first, then every variable of this process that it does not set.
  std::vector<std::string> envText, argCopy = argv;
  for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
  for (char** e = environ; *e != nullptr; ++e) {
    auto set = [e](const auto& var) { return std::string_view(*e).starts_with(var.first + "="); };
    if (std::none_of(env.begin(), env.end(), set)) envText.push_back(*e);
  }
  std::vector<char*> envp, args;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (std::string& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  const std::string out = logPrefix + ".out", err = logPrefix + ".err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

ChildProcess::~ChildProcess() {
  if (reaped_ || pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
}

void ChildProcess::reap(int status) {
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reap(status);
  return !reaped_;
}

void ChildProcess::signal(int sig) {
  if (running()) ::kill(pid_, sig);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (!waitUntil([&] { return !running(); }, timeout)) return std::nullopt;
  return exitCode_;
}

std::string ChildProcess::output() const {
  return "--- stdout\n" + readFile(logPrefix_ + ".out") + "--- stderr\n" + readFile(logPrefix_ + ".err");
}

int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
               getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (fd >= 0) close(fd);
  if (!bound) throw std::runtime_error("cannot find a free port");
  return ntohs(addr.sin_port);
}

size_t openDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

}  // namespace statrix_test
