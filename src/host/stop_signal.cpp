// Waiting for SIGINT/SIGTERM or a time limit.
#include "stop_signal.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "stop_channel.h"

namespace vhost {

namespace {

volatile std::sig_atomic_t stopFlag = 0;

void onStopSignal(int) {
  stopFlag = 1;
  raiseStopChannel();
}

}  // namespace

void armStopSignals() {
  openStopChannel();
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
}

StopWaker::StopWaker(std::function<void()> wake) {
  openStopChannel();
  thread_ = std::thread([wake = std::move(wake)] {
    while (waitStopChannel() == StopChannelEvent::Stop) wake();
  });
}

StopWaker::~StopWaker() {
  releaseStopChannel();
  thread_.join();
}

void waitForStop(std::optional<uint32_t> seconds) {
  armStopSignals();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  std::mutex mutex;
  std::condition_variable stopped;
  {
    // The waker notifies under the lock, so a stop between the check and the wait is not lost.
    StopWaker waker([&] {
      std::lock_guard lock(mutex);
      stopped.notify_all();
    });
    std::unique_lock lock(mutex);
    auto arrived = [] { return stopFlag != 0; };
    if (seconds)
      stopped.wait_until(lock, deadline, arrived);
    else
      stopped.wait(lock, arrived);
  }
  disarmStopSignals();
}

bool stopRequested() { return stopFlag != 0; }

void disarmStopSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

}  // namespace vhost
