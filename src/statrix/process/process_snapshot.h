// The process snapshot of one pass: the owned buffer the system filled, walked entry by entry.
#pragma once
#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>

#include "process/process_entry.h"

class ProcessSnapshot {
 public:
  // Walks the chain of entries. An entry whose offset leads outside the buffer ends the walk,
  // so a malformed chain can never be read past its end.
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ProcessEntryView;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ProcessEntryView;

    Iterator() = default;
    ProcessEntryView operator*() const { return ProcessEntryView(base_ + offset_, base_, size_); }
    Iterator& operator++();
    Iterator operator++(int) {
      Iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.offset_ == b.offset_; }

   private:
    friend class ProcessSnapshot;
    static constexpr size_t kEnd = static_cast<size_t>(-1);
    Iterator(const std::byte* base, size_t size, size_t offset) : base_(base), size_(size), offset_(offset) {}
    const std::byte* base_ = nullptr;
    size_t size_ = 0;
    size_t offset_ = kEnd;
  };

  ProcessSnapshot() = default;
  // Takes over a buffer holding `size` bytes of chained entries, the first at offset 0.
  ProcessSnapshot(std::unique_ptr<std::byte[]> buffer, size_t size);
  ProcessSnapshot(ProcessSnapshot&&) noexcept = default;
  ProcessSnapshot& operator=(ProcessSnapshot&&) noexcept = default;

  Iterator begin() const;
  Iterator end() const { return Iterator(); }
  size_t bytes() const { return size_; }

 private:
  std::unique_ptr<std::byte[]> buffer_;
  size_t size_ = 0;
};

// Asks the system for all processes, growing the buffer until they fit. Empty when the query
// fails or the buffer cannot be grown; the caller then ends its pass quietly.
std::optional<ProcessSnapshot> takeProcessSnapshot();
