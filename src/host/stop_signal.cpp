// Waiting for SIGINT/SIGTERM or a time limit.
#include "stop_signal.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace vhost {

namespace {

volatile std::sig_atomic_t stopFlag = 0;

void onStopSignal(int) { stopFlag = 1; }

}  // namespace

void armStopSignals() {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
}

void waitForStop(std::optional<uint32_t> seconds) {
  armStopSignals();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  // A short poll keeps this portable: the handler may only set a flag.
  while (stopFlag == 0 && (!seconds || std::chrono::steady_clock::now() < deadline))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  disarmStopSignals();
}

bool stopRequested() { return stopFlag != 0; }

void disarmStopSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

}  // namespace vhost
