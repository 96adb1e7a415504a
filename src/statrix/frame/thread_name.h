// Thread names for debuggers and dumps: the "name=" record left in the thread information
// block's arbitrary-user-pointer slot, switched by one registry value.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace CORE {

// Layout: "name=" (5 bytes), L = name length + 1 capped at 255, the first L - 1 bytes of the
// name, a 0 byte. The heap block is exactly L + 6 bytes.
struct ThreadNameRecord {
  static constexpr size_t kPrefixSize = 5;
  static constexpr size_t kMaxLength = 255;
  // Builds the record for `name`; `size` receives its length in bytes.
  static std::unique_ptr<uint8_t[]> build(std::string_view name, size_t& size);
};

// "HKLM\Software\Vantrel\Orvane\varnelUseThreadNames" (default on), read once per process.
bool useThreadNames();

// Replaces the calling thread's record with one for `name` (no-op when names are off).
void setCurrentThreadName(std::string_view name);
// Frees the calling thread's record (no-op when names are off).
void clearCurrentThreadName();
// The calling thread's record, or null (for debugging aids and tests).
const uint8_t* currentThreadNameRecord();

}  // namespace CORE
