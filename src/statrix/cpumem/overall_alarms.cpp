// The overall CPU and memory evaluations: log, publish, keep and compare each figure with its threshold.
#include "cpumem/registry_paths.h"
#include "process/round_percent.h"
#include "cpumem/watch_state.h"
#include "frame/log.h"
#include "process/consumer_list.h"

namespace {

constexpr uint32_t kRegDword = 4;

// Writes `value` as the REG_DWORD at `path`; false with the system error code on failure.
bool writeStatistic(const wchar_t* path, const CORE::corestring& value, DWORD& error) {
  if (value.writeRegistry(path, kRegDword, false, false)) return true;
  error = GetLastError();
  return false;
}

void broadcastAlarm(const wchar_t* alarm, const wchar_t* key, uint32_t percent) {
  CORE::PropertyBag bag;
  bag.set(key, CORE::corestring(percent, 10));
  CORE::Varnel::System()->BroadcastMsg(L"PERF-ALERT", alarm, bag, nullptr, nullptr, false);
}

}  // namespace

void WatchState::evaluateSystemCpu(float cpu, uint32_t threshold, const ProcessSnapshot& snapshot,
                                   uint32_t consumerMax) {
  const uint32_t rounded = roundPercent(cpu);
  LogMessage(CORE::Debug, L"System CPU use: %u%%", rounded);
  DWORD error = 0;
  if (!writeStatistic(registry_paths::kCpuPercentageValue, CORE::corestring(rounded, 10), error)) {
    LogMessage(CORE::Error, L"Failed to write CpuPercentage to registry - %s (%d)",
               CORE::corestring::formatError(error), static_cast<int32_t>(error));
  }
  cpuPercent_.store(cpu, std::memory_order_relaxed);
  cpuMeasured_.store(true, std::memory_order_release);

  // The rounded figure must exceed the threshold: 91 alarms against 90, 90 does not.
  if (rounded > threshold) {
    LogMessage(CORE::Info, L"CPU-ALARM: cpu use = %u%%", rounded);
    listConsumers(ProcessKind::Cpu, &snapshot, processes_, cpu, consumerMax);
    broadcastAlarm(L"CPU-ALARM", L"CPU_PERCENTAGE", rounded);
    cpuAlarm_.store(true, std::memory_order_relaxed);
  } else {
    cpuAlarm_.store(false, std::memory_order_relaxed);
  }
}

void WatchState::evaluateMemory(uint32_t load, uint32_t threshold, const ProcessSnapshot& snapshot,
                                uint32_t consumerMax) {
  LogMessage(CORE::Debug, L"Physical memory use: %u%%", load);
  DWORD error = 0;
  if (!writeStatistic(registry_paths::kMemoryPercentageValue, CORE::corestring(load, 10), error)) {
    LogMessage(CORE::Error, L"Failed to write MemoryPercentage to registry - %s (%d)",
               CORE::corestring::formatError(error), static_cast<int32_t>(error));
  }
  memPercent_.store(static_cast<float>(load), std::memory_order_relaxed);
  memMeasured_.store(true, std::memory_order_release);

  // Unlike the CPU figure, a load at the threshold already alarms.
  if (load >= threshold) {
    LogMessage(CORE::Info, L"MEMORY-ALARM: physical memory use = %u%%", load);
    listConsumers(ProcessKind::Memory, &snapshot, processes_, static_cast<float>(load), consumerMax);
    broadcastAlarm(L"MEMORY-ALARM", L"MEMORY_PERCENTAGE", load);
    memAlarm_.store(true, std::memory_order_relaxed);
  } else {
    memAlarm_.store(false, std::memory_order_relaxed);
  }
}

void WatchState::zeroStatistics() {
  const CORE::corestring zero(0, 10);
  DWORD error = 0;
  if (!writeStatistic(registry_paths::kCpuPercentageValue, zero, error)) {
    LogMessage(CORE::Error, L"Failed to reset CpuPercentage - %s (%d)", CORE::corestring::formatError(error),
               static_cast<int32_t>(error));
  }
  if (!writeStatistic(registry_paths::kMemoryPercentageValue, zero, error)) {
    LogMessage(CORE::Error, L"Failed to reset MemoryPercentage - %s (%d)", CORE::corestring::formatError(error),
               static_cast<int32_t>(error));
  }
}
