// One process entry of a process snapshot: the system's 64-bit layout and a view reading it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cpumem/nt_layout.h"
#include "frame/host/host.h"

namespace nt {

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

// Reads the fields the watch uses from one entry of a snapshot buffer. Cheap to copy; valid as
// long as the snapshot it came from.
class ProcessEntryView {
 public:
  // Bytes an entry must span for every field read here to lie inside the buffer.
  static constexpr size_t kMinimumSize = offsetof(nt::ProcessInfoLayout, PrivatePageCount) + sizeof(uint64_t);

  explicit ProcessEntryView(const std::byte* entry) : entry_(entry) {}

  uint32_t nextEntryOffset() const { return get<uint32_t>(offsetof(nt::ProcessInfoLayout, NextEntryOffset)); }
  int64_t workingSetPrivateSize() const { return get<int64_t>(offsetof(nt::ProcessInfoLayout, WorkingSetPrivateSize)); }
  int64_t createTime() const { return get<int64_t>(offsetof(nt::ProcessInfoLayout, CreateTime)); }
  int64_t userTime() const { return get<int64_t>(offsetof(nt::ProcessInfoLayout, UserTime)); }
  int64_t kernelTime() const { return get<int64_t>(offsetof(nt::ProcessInfoLayout, KernelTime)); }
  uint64_t uniqueProcessId() const { return get<uint64_t>(offsetof(nt::ProcessInfoLayout, UniqueProcessId)); }
  uint32_t sessionId() const { return get<uint32_t>(offsetof(nt::ProcessInfoLayout, SessionId)); }
  uint64_t privatePageCount() const { return get<uint64_t>(offsetof(nt::ProcessInfoLayout, PrivatePageCount)); }

  // The image name: a counted, unterminated string inside the snapshot (the length field counts
  // bytes, so the character count depends on the platform's WCHAR width).
  const WCHAR* imageNameBuffer() const {
    return reinterpret_cast<const WCHAR*>(get<uint64_t>(offsetof(nt::ProcessInfoLayout, ImageNameBuffer)));
  }
  size_t imageNameChars() const {
    return get<uint16_t>(offsetof(nt::ProcessInfoLayout, ImageNameLength)) / sizeof(WCHAR);
  }

  const std::byte* data() const { return entry_; }

 private:
  template <class T>
  T get(size_t offset) const {
    return nt::readAt<T>(entry_, offset);
  }
  const std::byte* entry_;
};
