// PerfmonScheduler: the watch's driver, with the eight registry-bound alarm settings and the watch timer.
#pragma once
#include <atomic>
#include <cstdint>

#include "frame/host/host.h"

// Lock order: settingsLock() (of the sysconfig base) first, then the WatchState lock or the
// metric manager's lock, never both of the latter. `changed` holds settingsLock for its whole
// run; the timer callback takes it only while filling the help-desk message.
class PerfmonScheduler : public CORE::sysconfig, public CORE::coretimer {
 public:
  PerfmonScheduler();
  ~PerfmonScheduler() override;

  // Binds and reads the settings, resets the watch state and starts the timer.
  void start();
  // Stops the timer (waiting for a running pass), resets the watch state and metric values.
  void stop();
  // A setting changed in the registry: thresholds and the consumer maximum apply from the next
  // pass, the two intervals reschedule at once. ProcessNameList is only read by start.
  void changed(const CORE::corestring& name, CORE::corestring& value) override;
  // Derives the period (the sampling interval, or the shorter alarm interval while an overall
  // alarm holds; each at least 5 s and at most one day) and (re)starts the timer.
  void reschedule();
  bool TimerCallback() override;

  // The settings, named as their registry values. The numbers are written by start and by
  // `changed` (on the configuration thread) and read without a lock by the timer thread.
  std::atomic<uint32_t> OverallCpuPercentage{0};     // 0 = no system CPU evaluation
  std::atomic<uint32_t> OverallMemoryPercentage{0};  // 0 = no memory evaluation
  std::atomic<uint32_t> ProcessCpuPercentage{0};     // 0 = no process CPU alarms
  std::atomic<uint32_t> ProcessMemoryPercentage{0};  // 0 = no process memory alarms
  CORE::corestring ProcessNameList;                  // written by start only
  std::atomic<int32_t> SamplingIntervalSeconds{0};
  std::atomic<int32_t> AlarmIntervalSeconds{0};
  std::atomic<uint32_t> AlarmLogConsumerMax{0};  // 0 = no consumer list; at most 100 are listed
};
