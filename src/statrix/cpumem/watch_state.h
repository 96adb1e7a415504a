// WatchState: the watch's process-wide state (lock, figures, alarm flags, process table) and its pass.
#pragma once
#include <atomic>
#include <cstdint>

#include "frame/host/host.h"
#include "process/process_snapshot.h"
#include "process/process_table.h"
#include "process/session_sums.h"

class WatchState {
 public:
  static WatchState& instance();  // created on first use, thread-safe; lives until unload

  WatchState(const WatchState&) = delete;
  WatchState& operator=(const WatchState&) = delete;

  // Readers for "collectCpuAndMem", called on request threads. No lock: each reads one field,
  // so a reader may see figures of two passes mixed.
  int64_t getCpu() const;          // rounded system CPU percentage
  int64_t getMem() const;          // rounded memory load
  int64_t getTotalMemory() const;  // physical memory, units of 10^6 bytes
  int64_t getFreeMemory() const;   // available physical memory, units of 10^6 bytes
  // True once a pass has evaluated the figure since the last reset (the CPU figure needs two
  // passes; a figure whose threshold is 0 is never evaluated). Until then getCpu()/getMem()
  // answer 0, which is no measurement. Read before the figure: a true flag covers it.
  bool cpuMeasured() const { return cpuMeasured_.load(std::memory_order_acquire); }
  bool memMeasured() const { return memMeasured_.load(std::memory_order_acquire); }

  // One sampling pass on the timer thread: memory status, process walk, processor times, then
  // the system CPU and memory evaluations. Thresholds of 0 switch their evaluation off; with all
  // four at 0 the pass does nothing. False only when the memory status could not be read. Any
  // exception is caught here and disables the watch until the next reschedule.
  bool CpuAndMemWatch(uint32_t overallCpu, uint32_t overallMem, uint32_t processCpu, uint32_t processMem,
                      uint32_t consumerMax, CORE::corestring nameList);

  // Back to the state of no previous pass: figures and alarm flags cleared, process table
  // emptied, published statistics set to 0. Takes no lock: it runs only while no pass can run
  // (at creation, before the timer starts and after it has been stopped with waiting).
  void reset();

  bool cpuAlarm() const { return cpuAlarm_.load(std::memory_order_relaxed); }
  bool memAlarm() const { return memAlarm_.load(std::memory_order_relaxed); }
  bool watchEnabled() const { return watchEnabled_.load(std::memory_order_relaxed); }
  void setWatchEnabled(bool enabled) { watchEnabled_.store(enabled, std::memory_order_relaxed); }

  // Lock order: the scheduler's settingsLock first, then this lock. Nothing holds this lock and
  // the metric manager's lock at once, and nothing waits for a thread while holding it.
  CORE::corecritsec& lock() { return lock_; }

  // The process table of the last walk; read on the timer thread only (during and after a pass).
  const ProcessTable& processes() const { return processes_; }
  // The per-session sums and the interval they cover; read under lock().
  const SessionSums& sessionSums() const { return sessions_; }
  int64_t systemDelta() const { return systemDelta_; }
  uint64_t totalPhys() const { return totalPhys_.load(std::memory_order_relaxed); }
  float cpuPercent() const { return cpuPercent_.load(std::memory_order_relaxed); }
  float memPercent() const { return memPercent_.load(std::memory_order_relaxed); }

  // Test seam: a hook the pass calls with the lock held, just before its process walk. Tests
  // install one that throws to drive the pass's exception handling; null (the default) in the
  // plug-in.
  using WalkHook = void (*)();
  static void setWalkHookForTesting(WalkHook hook) { walkHook_.store(hook, std::memory_order_release); }

 private:
  WatchState();
  ~WatchState() = default;

  bool samplePass(uint32_t overallCpu, uint32_t overallMem, uint32_t processCpu, uint32_t processMem,
                  uint32_t consumerMax, const CORE::corestring& nameList);
  // The overall evaluations: log, publish and keep the figure, raise or clear the alarm.
  void evaluateSystemCpu(float cpu, uint32_t threshold, const ProcessSnapshot& snapshot, uint32_t consumerMax);
  void evaluateMemory(uint32_t load, uint32_t threshold, const ProcessSnapshot& snapshot, uint32_t consumerMax);
  // Writes 0 to the published CPU and memory statistics.
  void zeroStatistics();

  static inline std::atomic<WalkHook> walkHook_{nullptr};

  CORE::corecritsec lock_;
  // Totals of the last pass (0: no previous pass); timer thread only.
  uint64_t systemTotal_ = 0;  // modulo 2^64, see counterGrowth
  uint64_t systemIdle_ = 0;
  int64_t systemDelta_ = 0;  // under lock_
  // Written by the pass, read without a lock by the request threads and the scheduler.
  std::atomic<uint64_t> totalPhys_{0};
  std::atomic<uint64_t> availPhys_{0};
  std::atomic<float> cpuPercent_{0.0f};
  std::atomic<float> memPercent_{0.0f};
  std::atomic<bool> cpuMeasured_{false};  // stored after the figure, with release
  std::atomic<bool> memMeasured_{false};
  std::atomic<bool> cpuAlarm_{false};
  std::atomic<bool> memAlarm_{false};
  std::atomic<bool> watchEnabled_{false};
  ProcessTable processes_;
  SessionSums sessions_;  // under lock_
};
