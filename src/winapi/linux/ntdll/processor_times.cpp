// Processor times (information class 8) and processor groups, from the cpuN lines of `stat`.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "ntdll/nt_layout.h"
#include "ntdll/nt_time.h"
#include "ntdll/system_queries.h"
#include "procfs/procfs_readers.h"

namespace winapi_linux {

namespace {

uint64_t addTicks(std::initializer_list<uint64_t> parts) {
  uint64_t sum = 0;
  for (uint64_t p : parts) sum = saturatingAdd(sum, p);
  return sum;
}

// Windows counts I/O wait as idle and steal as time the processor was not ours to use;
// its kernel time includes the idle time.
nt::ProcessorPerformance toEntry(const procfs::CpuTicks& t) {
  nt::ProcessorPerformance e{};
  uint64_t idle = addTicks({t.idle, t.iowait});
  e.IdleTime = ticksToNtTime(idle);
  e.KernelTime = ticksToNtTime(addTicks({idle, t.system, t.irq, t.softirq, t.steal}));
  e.UserTime = ticksToNtTime(addTicks({t.user, t.nice}));
  e.DpcTime = ticksToNtTime(t.softirq);
  e.InterruptTime = ticksToNtTime(t.irq);
  return e;
}

unsigned groupCount(size_t processors) {
  return static_cast<unsigned>((processors + kProcessorsPerGroup - 1) / kProcessorsPerGroup);
}

// A processor list with a garbled line would shift every later processor: refused.
bool intact(const Parsed<procfs::SystemStat>& stat) { return stat.value && stat.value->garbledProcessors == 0; }

// The processor list of the tree, or 0 processors with the last error set.
size_t processorCount() {
  auto stat = readSystemStat();
  if (!intact(stat)) {
    SetLastError(stat.readError ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_DATA);
    return 0;
  }
  return stat.value->cpus.size();
}

}  // namespace

NTSTATUS queryProcessorPerformance(USHORT group, PVOID buffer, ULONG length, PULONG returned) {
  auto stat = readSystemStat();
  if (!intact(stat)) return stat.readError == ENOMEM ? STATUS_NO_MEMORY : STATUS_UNSUCCESSFUL;
  const auto& cpus = stat.value->cpus;
  if (group >= groupCount(cpus.size())) return STATUS_INVALID_PARAMETER;

  size_t first = size_t{group} * kProcessorsPerGroup;
  size_t count = std::min<size_t>(kProcessorsPerGroup, cpus.size() - first);
  auto needed = static_cast<ULONG>(count * sizeof(nt::ProcessorPerformance));
  if (returned) *returned = needed;
  if (length < needed) return STATUS_INFO_LENGTH_MISMATCH;
  if (!buffer) return STATUS_ACCESS_VIOLATION;

  // memcpy: the caller's buffer need not be aligned for 64-bit stores.
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < count; ++i) {
    nt::ProcessorPerformance e = toEntry(cpus[first + i]);
    std::memcpy(out + i * sizeof e, &e, sizeof e);
  }
  return STATUS_SUCCESS;
}

}  // namespace winapi_linux

WINAPI_LAYER WORD GetActiveProcessorGroupCount(void) {
  return static_cast<WORD>(winapi_linux::groupCount(winapi_linux::processorCount()));
}

WINAPI_LAYER DWORD GetActiveProcessorCount(WORD group) {
  size_t processors = winapi_linux::processorCount();
  if (processors == 0) return 0;
  if (group == ALL_PROCESSOR_GROUPS) return static_cast<DWORD>(processors);
  if (group >= winapi_linux::groupCount(processors)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t first = size_t{group} * winapi_linux::kProcessorsPerGroup;
  return static_cast<DWORD>(std::min<size_t>(winapi_linux::kProcessorsPerGroup, processors - first));
}
