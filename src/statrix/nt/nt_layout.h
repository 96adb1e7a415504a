// Native system-information constants and the published processor-time and process entry layouts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/host/host.h"

// The layouts below are those of the 64-bit system; the module is only built for it.
static_assert(sizeof(void*) == 8, "the native layouts read here are the 64-bit ones");

namespace nt {

// Own names for the constants: the platform headers define some of them as macros and others
// not at all.
constexpr ULONG kProcessInformationClass = 5;              // process snapshot
constexpr ULONG kProcessorPerformanceClass = 8;            // per-processor times
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004u);

// Reads a field of type T at `offset` bytes into a query buffer. The buffers come from the
// system as bytes, so fields are copied out rather than read through a cast pointer.
template <class T>
inline T readAt(const std::byte* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof(T));
  return value;
}

// One processor's entry of the per-processor times, as the system lays it out.
struct ProcessorTimesLayout {
  int64_t IdleTime;    // 100 ns
  int64_t KernelTime;  // 100 ns, includes IdleTime
  int64_t UserTime;    // 100 ns
  int64_t Reserved1[2];
  uint32_t Reserved2;
  uint32_t Padding;
};
static_assert(sizeof(ProcessorTimesLayout) == 48);
static_assert(offsetof(ProcessorTimesLayout, IdleTime) == 0);
static_assert(offsetof(ProcessorTimesLayout, KernelTime) == 8);
static_assert(offsetof(ProcessorTimesLayout, UserTime) == 16);

// The process entry as the system lays it out (64-bit). Entries are variable-length: the
// thread records follow, and NextEntryOffset leads to the next entry.
struct ProcessInfoLayout {
  uint32_t NextEntryOffset;
  uint32_t NumberOfThreads;
  int64_t WorkingSetPrivateSize;  // bytes
  uint32_t HardFaultCount;
  uint32_t NumberOfThreadsHighWatermark;
  uint64_t CycleTime;
  int64_t CreateTime;  // 100 ns since 1601
  int64_t UserTime;    // 100 ns
  int64_t KernelTime;  // 100 ns
  uint16_t ImageNameLength;  // bytes, not characters
  uint16_t ImageNameMaximumLength;
  uint32_t ImageNamePadding;
  uint64_t ImageNameBuffer;  // points into the same snapshot buffer
  int32_t BasePriority;
  uint32_t BasePriorityPadding;
  uint64_t UniqueProcessId;
  uint64_t InheritedFromUniqueProcessId;
  uint32_t HandleCount;
  uint32_t SessionId;
  uint64_t UniqueProcessKey;
  uint64_t PeakVirtualSize;
  uint64_t VirtualSize;
  uint32_t PageFaultCount;
  uint32_t PageFaultCountPadding;
  uint64_t PeakWorkingSetSize;
  uint64_t WorkingSetSize;
  uint64_t QuotaPeakPagedPoolUsage;
  uint64_t QuotaPagedPoolUsage;
  uint64_t QuotaPeakNonPagedPoolUsage;
  uint64_t QuotaNonPagedPoolUsage;
  uint64_t PagefileUsage;
  uint64_t PeakPagefileUsage;
  uint64_t PrivatePageCount;  // bytes
  int64_t ReadOperationCount;
  int64_t WriteOperationCount;
  int64_t OtherOperationCount;
  int64_t ReadTransferCount;
  int64_t WriteTransferCount;
  int64_t OtherTransferCount;
};
static_assert(offsetof(ProcessInfoLayout, NextEntryOffset) == 0x00);
static_assert(offsetof(ProcessInfoLayout, WorkingSetPrivateSize) == 0x08);
static_assert(offsetof(ProcessInfoLayout, CreateTime) == 0x20);
static_assert(offsetof(ProcessInfoLayout, UserTime) == 0x28);
static_assert(offsetof(ProcessInfoLayout, KernelTime) == 0x30);
static_assert(offsetof(ProcessInfoLayout, ImageNameLength) == 0x38);
static_assert(offsetof(ProcessInfoLayout, ImageNameBuffer) == 0x40);
static_assert(offsetof(ProcessInfoLayout, UniqueProcessId) == 0x50);
static_assert(offsetof(ProcessInfoLayout, SessionId) == 0x64);
static_assert(offsetof(ProcessInfoLayout, PrivatePageCount) == 0xC8);
static_assert(sizeof(ProcessInfoLayout) == 0x100);


}  // namespace nt
