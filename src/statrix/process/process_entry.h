// One process entry of a process snapshot: a view reading the fields the watch uses.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/host/host.h"
#include "nt/nt_layout.h"

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
