// A program started in the background for a test, stopped by its own pid.
//
//   ChildProcess runner({hostBinary(), "--metrics-listen", "127.0.0.1:" + std::to_string(port)},
//                       {{"VARNEL_PROCFS", tree.root()}}, dir.path() + "/runner");
//   ... talk to it ...
//   runner.signal(SIGTERM);
//   EXPECT_EQ(runner.wait(std::chrono::seconds(30)), 0) << runner.output();
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace statrix_test {

class ChildProcess {
 public:
  // Starts argv[0] (a path) with `env` added to this process's environment; stdin reads the
  // file `stdinPath`, stdout and stderr go to `logPrefix` + ".out" and ".err". Throws when it cannot.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
               const std::string& logPrefix, const std::string& stdinPath = "/dev/null");
  // A child still running is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running();
  void signal(int sig);
  // Exit status; -1 when killed by a signal; empty when still running after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // What it wrote so far, for failure messages.
  std::string output() const;

 private:
  void reap(int status);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
  std::string logPrefix_;
};

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0, then closed).
int freeLoopbackPort();

// How many descriptors this process has open, as listed in /proc/self/fd (the listing's own
// included: compare two counts, never a count with a number).
size_t openDescriptors();

// Polls `probe` every 100 ms until it returns true or `timeout` passes; returns its last result.
template <class Probe>
bool waitUntil(Probe probe, std::chrono::milliseconds timeout);

}  // namespace statrix_test

#include <thread>

template <class Probe>
bool statrix_test::waitUntil(Probe probe, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (probe()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
