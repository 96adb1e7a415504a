// Human mode's run time: until SIGINT or SIGTERM, or a number of seconds.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

namespace vhost {

// Catches SIGINT and SIGTERM from now on, so a stop request that arrives while the plug-in is
// still starting is kept for waitForStop instead of killing the runner.
void armStopSignals();

// Returns when SIGINT or SIGTERM arrives (or arrived since armStopSignals) or, if given,
// `seconds` have passed. The default signal actions are restored on return.
void waitForStop(std::optional<uint32_t> seconds);

// SIGINT or SIGTERM arrived since armStopSignals; for loops that wait on something else.
bool stopRequested();

// Runs `wake` on a thread of its own each time SIGINT or SIGTERM arrives (or arrived since
// armStopSignals and was not yet seen by a waker) while it lives, so that a loop can sleep on its
// own condition instead of polling stopRequested(). One at a time.
class StopWaker {
 public:
  explicit StopWaker(std::function<void()> wake);
  ~StopWaker();
  StopWaker(const StopWaker&) = delete;
  StopWaker& operator=(const StopWaker&) = delete;

 private:
  std::thread thread_;
};

// Restores the default signal actions (what waitForStop does on return).
void disarmStopSignals();

}  // namespace vhost
