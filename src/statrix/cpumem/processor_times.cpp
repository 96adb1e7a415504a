// Reads the per-processor times and sums them over all processors of all processor groups.
#include "cpumem/processor_times.h"

#include <algorithm>
#include <memory>
#include <new>

#include "nt/nt_layout.h"
#include "nt/nt_query.h"
#include "process/counter_growth.h"

namespace {

constexpr size_t kEntrySize = sizeof(nt::ProcessorTimesLayout);
// Room for 128 processors; the usual case never touches the heap.
constexpr ULONG kStackBufferSize = 6144;
static_assert(kStackBufferSize == 128 * kEntrySize);

void addEntries(const std::byte* buffer, ULONG length, ProcessorTimes& sums) {
  const size_t count = length / kEntrySize;
  for (size_t i = 0; i < count; ++i) {
    const std::byte* entry = buffer + i * kEntrySize;
    const auto idle = nt::readAt<int64_t>(entry, offsetof(nt::ProcessorTimesLayout, IdleTime));
    const auto kernel = nt::readAt<int64_t>(entry, offsetof(nt::ProcessorTimesLayout, KernelTime));
    const auto user = nt::readAt<int64_t>(entry, offsetof(nt::ProcessorTimesLayout, UserTime));
    // Modular sums: a counter capped at its maximum must not overflow the total.
    sums.total += counterSum(kernel, user);
    sums.idle += static_cast<uint64_t>(idle);
  }
}

}  // namespace

bool addProcessorTimes(const ProcessorQuery& query, ProcessorTimes& sums) {
  alignas(8) std::byte stackBuffer[kStackBufferSize];
  ULONG returned = 0;
  LONG status = query(stackBuffer, kStackBufferSize, &returned);
  if (status == nt::kStatusSuccess) {
    addEntries(stackBuffer, std::min(returned, kStackBufferSize), sums);
    return true;
  }
  if (status != nt::kStatusInfoLengthMismatch) return false;

  // More processors than the stack buffer holds. Size the heap buffer from the system's answer,
  // or from the processor count where the answer carries no length.
  const ULONG counted = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS) * static_cast<ULONG>(kEntrySize);
  const ULONG needed = std::max(returned, counted);
  if (needed <= kStackBufferSize) return false;
  std::unique_ptr<std::byte[]> heapBuffer(new (std::nothrow) std::byte[needed]);
  if (!heapBuffer) return false;
  returned = 0;
  status = query(heapBuffer.get(), needed, &returned);
  if (status != nt::kStatusSuccess) return false;
  addEntries(heapBuffer.get(), std::min(returned, needed), sums);
  return true;
}

ProcessorTimes readProcessorTimes() {
  ProcessorTimes sums;
  const nt::QuerySystemInformationFn plain = nt::querySystemInformation();
  if (plain == nullptr) return sums;

  const WORD groups = GetActiveProcessorGroupCount();
  const nt::QuerySystemInformationExFn perGroup = nt::querySystemInformationEx();
  bool ok = true;
  if (groups > 1 && perGroup != nullptr) {
    for (USHORT group = 0; ok && group < groups; ++group) {
      ok = addProcessorTimes(
          [&](PVOID buffer, ULONG length, PULONG returned) {
            USHORT input = group;
            return perGroup(nt::kProcessorPerformanceClass, &input, sizeof(input), buffer, length, returned);
          },
          sums);
    }
  } else {
    ok = addProcessorTimes(
        [&](PVOID buffer, ULONG length, PULONG returned) {
          return plain(nt::kProcessorPerformanceClass, buffer, length, returned);
        },
        sums);
  }
  return ok ? sums : ProcessorTimes{};
}
