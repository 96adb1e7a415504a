// Taking the process snapshot and walking its chain of entries.
#include "process/process_snapshot.h"

#include <algorithm>
#include <limits>
#include <new>

#include "nt/nt_query.h"

namespace {

// Headroom over the size the system asked for, so that processes started between the sizing
// call and the filling call still fit.
constexpr ULONG kGrowthMargin = 16384;

bool entryFits(size_t offset, size_t size) {
  return offset <= size && size - offset >= ProcessEntryView::kMinimumSize;
}

}  // namespace

ProcessSnapshot::ProcessSnapshot(std::unique_ptr<std::byte[]> buffer, size_t size)
    : buffer_(std::move(buffer)), size_(buffer_ ? size : 0) {}

ProcessSnapshot::Iterator ProcessSnapshot::begin() const {
  if (!entryFits(0, size_)) return end();
  return Iterator(buffer_.get(), size_, 0);
}

ProcessSnapshot::Iterator& ProcessSnapshot::Iterator::operator++() {
  const uint32_t next = ProcessEntryView(base_ + offset_).nextEntryOffset();
  offset_ = (next != 0 && entryFits(offset_ + next, size_)) ? offset_ + next : kEnd;
  return *this;
}

std::optional<ProcessSnapshot> takeProcessSnapshot() {
  const nt::QuerySystemInformationFn query = nt::querySystemInformation();
  if (query == nullptr) return std::nullopt;

  std::unique_ptr<std::byte[]> buffer;
  ULONG size = 0;
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(nt::kProcessInformationClass, buffer.get(), size, &needed);
    if (status == nt::kStatusSuccess) {
      const ULONG used = (needed != 0 && needed <= size) ? needed : size;
      return ProcessSnapshot(std::move(buffer), used);
    }
    if (status != nt::kStatusInfoLengthMismatch) return std::nullopt;
    const ULONG base = std::max(size, needed);
    if (base > std::numeric_limits<ULONG>::max() - kGrowthMargin) return std::nullopt;
    const ULONG grown = base + kGrowthMargin;
    std::unique_ptr<std::byte[]> bigger(new (std::nothrow) std::byte[grown]);
    if (!bigger) return std::nullopt;
    buffer = std::move(bigger);
    size = grown;
  }
}
