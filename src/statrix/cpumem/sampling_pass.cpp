// The sampling pass: memory status, process walk and processor times, under one exception guard.
#include <optional>

#include "cpumem/processor_times.h"
#include "cpumem/stop_flag.h"
#include "cpumem/watch_state.h"
#include "process/counter_growth.h"
#include "frame/log.h"

static_assert(sizeof(MEMORYSTATUSEX) == 64);

bool WatchState::CpuAndMemWatch(uint32_t overallCpu, uint32_t overallMem, uint32_t processCpu, uint32_t processMem,
                                uint32_t consumerMax, CORE::corestring nameList) {
  try {
    return samplePass(overallCpu, overallMem, processCpu, processMem, consumerMax, nameList);
  } catch (...) {
    // The lock and the snapshot were released on the way out. A pass that failed once is not
    // retried on every tick: the watch stays off until the timer is rescheduled.
    try {
      if (!serviceStopping.load()) LogMessage(CORE::Error, L"EXCEPTION IN CpuAndMemWatch");
    } catch (...) {
      // Logging failed too; the watch is switched off all the same.
    }
    setWatchEnabled(false);
    return true;
  }
}

bool WatchState::samplePass(uint32_t overallCpu, uint32_t overallMem, uint32_t processCpu, uint32_t processMem,
                            uint32_t consumerMax, const CORE::corestring& nameList) {
  if (overallCpu == 0 && overallMem == 0 && processCpu == 0 && processMem == 0) {
    LogMessage(CORE::Trace, L"TimerCallback for CpuAndMemWatch skipped, nothing to do.");
    return true;
  }

  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  if (!GlobalMemoryStatusEx(&memory)) {
    const DWORD code = GetLastError();
    LogMessage(CORE::Error, L"GlobalMemoryStatusEx FAILED, error: %s", CORE::corestring::formatError(code));
    return false;
  }

  // Without a snapshot the pass ends quietly and every figure keeps its value.
  const std::optional<ProcessSnapshot> snapshot = takeProcessSnapshot();
  if (!snapshot) return true;

  // A failed query gives zero sums; a sum that went down (or a failed query) gives no delta.
  const ProcessorTimes times = readProcessorTimes();
  const int64_t deltaTotal = counterGrowth(times.total, systemTotal_);
  const int64_t deltaIdle = counterGrowth(times.idle, systemIdle_);
  const uint32_t stamp = GetTickCount();

  {
    CORE::coresync hold(lock_);
    systemDelta_ = deltaTotal;
    totalPhys_.store(memory.ullTotalPhys, std::memory_order_relaxed);
    availPhys_.store(memory.ullAvailPhys, std::memory_order_relaxed);
    if (const WalkHook hook = walkHook_.load(std::memory_order_acquire)) hook();
    processes_.updateProcesses(*snapshot, WalkInputs{stamp, deltaTotal, memory.ullTotalPhys, processCpu, processMem},
                               nameList, sessions_);
  }
  processes_.purgeProcesses(stamp);

  // The CPU figure needs the totals of a previous pass; the first pass only stores them.
  if (overallCpu != 0 && systemTotal_ != 0) {
    float cpu = 0.0f;
    if (deltaTotal != 0 && deltaTotal > deltaIdle) {
      cpu = static_cast<float>(static_cast<double>(deltaTotal - deltaIdle) * 100.0 / static_cast<double>(deltaTotal));
    }
    evaluateSystemCpu(cpu, overallCpu, *snapshot, consumerMax);
  }
  systemTotal_ = times.total;
  systemIdle_ = times.idle;

  if (overallMem != 0) evaluateMemory(memory.dwMemoryLoad, overallMem, *snapshot, consumerMax);
  return true;
}
