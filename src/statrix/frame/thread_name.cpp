// The thread-name record and the one-time read of its registry switch.
#include "frame/thread_name.h"

#include <atomic>
#include <cstring>

#include "frame/host/host.h"

namespace CORE {

namespace {

constexpr const char* kUseThreadNamesPath = "HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames";

// 0: not read yet, 1: a thread is reading it, 2: `namesOn` holds the value.
std::atomic<int> namesState{0};
std::atomic<bool> namesOn{false};

// The thread block is reached through a segment register at a fixed small offset; GCC takes
// that address for a null pointer plus offset and warns about a zero-sized array there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
void*& userPointerSlot() { return reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ArbitraryUserPointer; }
#pragma GCC diagnostic pop

void freeSlot() {
  void*& slot = userPointerSlot();
  delete[] static_cast<uint8_t*>(slot);
  slot = nullptr;
}

}  // namespace

std::unique_ptr<uint8_t[]> ThreadNameRecord::build(std::string_view name, size_t& size) {
  const size_t length = name.size() + 1 < kMaxLength ? name.size() + 1 : kMaxLength;
  size = length + 6;
  std::unique_ptr<uint8_t[]> record(new uint8_t[size]);
  std::memcpy(record.get(), "name=", kPrefixSize);
  record[kPrefixSize] = static_cast<uint8_t>(length);
  std::memcpy(record.get() + kPrefixSize + 1, name.data(), length - 1);
  record[kPrefixSize + length] = 0;
  return record;
}

bool useThreadNames() {
  int expected = 0;
  if (namesState.compare_exchange_strong(expected, 1)) {
    bool on = true;  // the default "1", also when the read itself fails
    try {
      on = corestring::fromUtf8(corestring::readRegistry(kUseThreadNamesPath, "1")).toBool();
    } catch (...) {
    }
    namesOn.store(on);
    namesState.store(2);
  } else {
    // Another thread is reading the switch; it takes one registry read.
    while (namesState.load() != 2) Sleep(10);
  }
  return namesOn.load();
}

void setCurrentThreadName(std::string_view name) {
  if (!useThreadNames()) return;
  freeSlot();
  size_t size = 0;
  userPointerSlot() = ThreadNameRecord::build(name, size).release();
}

void clearCurrentThreadName() {
  if (!useThreadNames()) return;
  freeSlot();
}

const uint8_t* currentThreadNameRecord() { return static_cast<const uint8_t*>(userPointerSlot()); }

}  // namespace CORE
