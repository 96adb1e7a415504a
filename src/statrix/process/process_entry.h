// One process entry of a process snapshot: a view reading the fields the watch uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "frame/host/host.h"
#include "nt/nt_layout.h"

// Reads the fields the watch uses from one entry of a snapshot buffer. Cheap to copy; valid as
// long as the snapshot it came from.
class ProcessEntryView {
 public:
  // Bytes an entry must span for every field read here to lie inside the buffer.
  static constexpr size_t kMinimumSize = offsetof(nt::ProcessInfoLayout, PrivatePageCount) + sizeof(uint64_t);

  explicit ProcessEntryView(const std::byte* entry) : entry_(entry) {}
  // An entry of the buffer [bufferBegin, bufferBegin + bufferSize): its name is only read when
  // it lies inside that buffer.
  ProcessEntryView(const std::byte* entry, const std::byte* bufferBegin, size_t bufferSize)
      : entry_(entry), bufferBegin_(bufferBegin), bufferSize_(bufferSize) {}
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

  // The image name, or an empty name when the entry's name does not lie inside the buffer the
  // entry came from (or the view knows no buffer).
  std::wstring_view imageName() const {
    // Compared as addresses: the name pointer comes from the system and may point anywhere.
    const auto name = reinterpret_cast<uintptr_t>(imageNameBuffer());
    const auto begin = reinterpret_cast<uintptr_t>(bufferBegin_);
    const size_t bytes = imageNameChars() * sizeof(WCHAR);
    if (bytes == 0 || bufferBegin_ == nullptr || name < begin || name - begin > bufferSize_ ||
        bufferSize_ - (name - begin) < bytes || name % alignof(WCHAR) != 0) {
      return {};
    }
    return std::wstring_view(imageNameBuffer(), imageNameChars());
  }

  const std::byte* data() const { return entry_; }

 private:
  template <class T>
  T get(size_t offset) const {
    return nt::readAt<T>(entry_, offset);
  }
  const std::byte* entry_;
  const std::byte* bufferBegin_ = nullptr;
  size_t bufferSize_ = 0;
};
