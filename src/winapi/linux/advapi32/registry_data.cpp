// Conversion between typed registry values and the byte blobs of the Win32 registry calls.
#include "advapi32/registry_data.h"

#include <cstring>
#include <string_view>

namespace winapi_linux::registry_data {
namespace {

void appendText(std::vector<BYTE>& out, std::wstring_view text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
  out.insert(out.end(), bytes, bytes + text.size() * sizeof(WCHAR));
  out.insert(out.end(), sizeof(WCHAR), BYTE{0});
}

// The characters of a blob; a trailing partial character is ignored. Copied out, since callers
// may pass data at any address and wide characters must not be read from a misaligned one.
std::wstring characters(const BYTE* data, DWORD size) {
  if (!data) return {};
  std::wstring text(size / sizeof(WCHAR), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(WCHAR));
  return text;
}

}  // namespace

std::vector<BYTE> toBytes(const registry_format::Value& value) {
  std::vector<BYTE> out;
  switch (value.type) {
    case REG_DWORD: {
      out.resize(sizeof(DWORD));
      std::memcpy(out.data(), &value.number, sizeof(DWORD));
      break;
    }
    case REG_MULTI_SZ:
      for (const std::wstring& item : value.items) appendText(out, item);
      if (value.items.empty()) appendText(out, {});  // still a double NUL
      appendText(out, {});
      break;
    default:
      appendText(out, value.text);
      break;
  }
  return out;
}

std::optional<registry_format::Value> fromBytes(DWORD type, const BYTE* data, DWORD size) {
  if (!data && size > 0) return std::nullopt;
  registry_format::Value value;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::wstring text = characters(data, size);
      value.text = text.substr(0, text.find(L'\0'));
      return value;
    }
    case REG_DWORD:
      if (size != sizeof(DWORD)) return std::nullopt;
      value.type = REG_DWORD;
      std::memcpy(&value.number, data, sizeof(DWORD));
      return value;
    case REG_MULTI_SZ: {
      value.type = REG_MULTI_SZ;
      const std::wstring all = characters(data, size);
      std::wstring_view rest = all;
      // Items up to the empty one that ends the list (or the end of the data).
      while (!rest.empty()) {
        size_t end = rest.find(L'\0');
        std::wstring_view item = rest.substr(0, end);
        if (item.empty()) break;
        value.items.emplace_back(item);
        rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
      }
      return value;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace winapi_linux::registry_data
