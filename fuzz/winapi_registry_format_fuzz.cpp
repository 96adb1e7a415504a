// Fuzzes the file-backed registry's value files and name encoding: any file content parses or
// is refused, what parses writes back to content that reads the same, any name survives its
// file-name form, and a value blob converts both ways without loss.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "advapi32/registry_data.h"
#include "advapi32/registry_format.h"
#include "advapi32/registry_names.h"

using namespace winapi_linux;

namespace {

void valueFile(std::string_view content) {
  auto value = registry_format::parse(content);
  if (!value) return;
  auto written = registry_format::format(*value);
  if (!written) std::abort();  // what was read can be written
  auto again = registry_format::parse(*written);
  if (!again || !(*again == *value)) std::abort();
  // And the same value as the Win32 calls see it; a hand-written file may hold a NUL, which the
  // calls' blobs take as the end of a string.
  auto hasNul = [](const std::wstring& s) { return s.find(L'\0') != std::wstring::npos; };
  if (hasNul(value->text)) return;
  for (const std::wstring& item : value->items)
    if (hasNul(item)) return;
  const std::vector<BYTE> bytes = registry_data::toBytes(*value);
  auto fromBlob = registry_data::fromBytes(value->type, bytes.data(), static_cast<DWORD>(bytes.size()));
  if (!fromBlob || !(*fromBlob == *value)) std::abort();
}

void name(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) return;  // the store refuses such names
  const std::string file = registry_names::encode(utf8);
  if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") std::abort();
  if (registry_names::isHidden(file)) std::abort();
  if (registry_names::decode(file) != utf8) std::abort();
}

void blob(uint8_t type, const uint8_t* data, size_t size) {
  static const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_MULTI_SZ, REG_BINARY};
  auto value = registry_data::fromBytes(types[type % 5], data, static_cast<DWORD>(size));
  if (!value) return;
  const std::vector<BYTE> bytes = registry_data::toBytes(*value);
  auto again = registry_data::fromBytes(value->type, bytes.data(), static_cast<DWORD>(bytes.size()));
  if (!again || !(*again == *value)) std::abort();
}

}  // namespace

// The first byte picks the piece under test; the rest is its input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: valueFile(rest); break;
    case 1: name(rest); break;
    default:
      if (size >= 2) blob(data[1], data + 2, size - 2);
      break;
  }
  return 0;
}
