// WatchState: the process-wide state of the CPU and memory watch.
#pragma once
#include <cstdint>

class WatchState {
 public:
  static WatchState& instance();  // created on first use

  // Readers for "collectCpuAndMem"; no lock.
  int64_t getCpu() const;
  int64_t getMem() const;
  int64_t getTotalMemory() const;
  int64_t getFreeMemory() const;
};
