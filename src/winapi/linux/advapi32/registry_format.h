// The content of a registry value file, and the typed value it holds.
//
//   "dword:<decimal>"                         REG_DWORD (surrounding white space allowed)
//   "multi_sz:" newline, one item per line    REG_MULTI_SZ (empty lines are skipped)
//   "sz:" text, or any other text             REG_SZ, with one trailing newline dropped
//
// Content that starts with "dword:" or "multi_sz:" but does not continue as that type, or that
// is not UTF-8, is malformed rather than silently read as text.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"
#include "winapi.h"

namespace winapi_linux::registry_format {

struct Value {
  DWORD type = REG_SZ;              // REG_SZ, REG_DWORD or REG_MULTI_SZ
  std::wstring text;                // REG_SZ
  DWORD number = 0;                 // REG_DWORD
  std::vector<std::wstring> items;  // REG_MULTI_SZ: non-empty, without newlines
  bool operator==(const Value&) const = default;
};

// The largest value file in bytes, written or read: a value whose file would be larger is
// refused when it is written, so every value written can be read back.
inline constexpr size_t kMaxContent = size_t{16} << 20;

// nullopt when the content is malformed (the caller answers ERROR_INVALID_DATA).
LAYER_VISIBLE std::optional<Value> parse(std::string_view content);
// nullopt when the file format cannot hold the value: an empty item or one with a newline in a
// REG_MULTI_SZ, text that is no Unicode, an unknown type. Reads back equal through parse.
LAYER_VISIBLE std::optional<std::string> format(const Value& value);

}  // namespace winapi_linux::registry_format
