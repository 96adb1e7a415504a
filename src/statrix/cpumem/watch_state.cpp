// WatchState: creation, reset and the lock-free readers of the system figures.
#include "cpumem/watch_state.h"

#include "cpumem/stop_flag.h"
#include "process/round_percent.h"

std::atomic<bool> serviceStopping{false};

WatchState& WatchState::instance() {
  static WatchState state;
  return state;
}

WatchState::WatchState() { reset(); }

void WatchState::reset() {
  systemTotal_ = 0;
  systemIdle_ = 0;
  cpuMeasured_.store(false, std::memory_order_relaxed);
  memMeasured_.store(false, std::memory_order_relaxed);
  cpuPercent_.store(0.0f, std::memory_order_relaxed);
  memPercent_.store(0.0f, std::memory_order_relaxed);
  cpuAlarm_.store(false, std::memory_order_relaxed);
  memAlarm_.store(false, std::memory_order_relaxed);
  processes_.resetProcesses();
  zeroStatistics();
}

int64_t WatchState::getCpu() const { return roundPercent(cpuPercent()); }
int64_t WatchState::getMem() const { return roundPercent(memPercent()); }
int64_t WatchState::getTotalMemory() const {
  return static_cast<int64_t>(totalPhys_.load(std::memory_order_relaxed) / 1000000);
}
int64_t WatchState::getFreeMemory() const {
  return static_cast<int64_t>(availPhys_.load(std::memory_order_relaxed) / 1000000);
}
