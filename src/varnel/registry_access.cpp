// Registry helpers of corestring and the host's typed registry access, over the Win32 registry
// API of the seam (the real registry on Windows, the file-backed one on Linux).
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "last_error_guard.h"
#include "number_text.h"
#include "registry_path.h"
#include "varnel/corestring.h"
#include "varnel/host_control.h"
#include "winapi.h"

namespace CORE {
namespace {

// An open registry key, closed when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

LSTATUS readRaw(const RegistryValuePath& path, RawValue& value) {
  RegKey key;
  LSTATUS status = RegOpenKeyExW(path.root, path.subKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.out());
  if (status != ERROR_SUCCESS) return status;
  // The value may grow between asking its size and reading it: ask again a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    status = RegQueryValueExW(key.get(), path.valueName.c_str(), nullptr, &value.type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    value.data.resize(size);
    status = RegQueryValueExW(key.get(), path.valueName.c_str(), nullptr, &value.type, value.data.data(), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status == ERROR_SUCCESS) value.data.resize(size);
    return status;
  }
  return ERROR_MORE_DATA;
}

LSTATUS writeRaw(const RegistryValuePath& path, const RawValue& value) {
  RegKey key;
  LSTATUS status = RegCreateKeyExW(path.root, path.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.out(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), path.valueName.c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

// Wide characters of the data; a string value ends at its first NUL (stored strings need not
// carry one).
std::wstring wideOf(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  return text;
}

std::vector<corestring> multiSzItems(const std::vector<BYTE>& data) {
  std::vector<corestring> items;
  const std::wstring all = wideOf(data);
  for (size_t start = 0; start < all.size();) {
    const size_t end = std::min(all.find(L'\0', start), all.size());
    if (end == start) break;  // the empty item terminates the list
    items.emplace_back(all.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

template <class T>
std::optional<T> numberOf(const std::vector<BYTE>& data) {
  if (data.size() < sizeof(T)) return std::nullopt;
  T v;
  std::memcpy(&v, data.data(), sizeof(T));
  return v;
}

// The value in the shape of the typed interface; SZ, EXPAND_SZ, DWORD and QWORD as text,
// MULTI_SZ as items (and as text joined by NULs). Other types carry only their type.
RegistryValue decode(const RawValue& raw) {
  RegistryValue value;
  value.type = raw.type;
  switch (raw.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::wstring text = wideOf(raw.data);
      value.text = corestring(text.substr(0, text.find(L'\0')));
      break;
    }
    case REG_DWORD:
      if (auto n = numberOf<uint32_t>(raw.data)) value.text = corestring(*n, 10);
      break;
    case REG_QWORD:
      if (auto n = numberOf<uint64_t>(raw.data)) value.text = corestring(*n, 10);
      break;
    case REG_MULTI_SZ:
      value.items = multiSzItems(raw.data);
      for (size_t i = 0; i < value.items.size(); ++i) {
        if (i != 0) value.text += corestring(L"\0", 1);
        value.text += value.items[i];
      }
      break;
    default:
      break;
  }
  return value;
}

void appendWide(std::vector<BYTE>& data, std::wstring_view text) {
  const size_t at = data.size();
  data.resize(at + (text.size() + 1) * sizeof(wchar_t));  // with its terminating NUL
  std::memcpy(data.data() + at, text.data(), text.size() * sizeof(wchar_t));
}

// Empty items cannot be stored (an empty item ends the list), so they are left out.
RawValue encodeMultiSz(const std::vector<corestring>& items) {
  RawValue raw{REG_MULTI_SZ, {}};
  for (const corestring& item : items)
    if (!item.empty()) appendWide(raw.data, item.str());
  appendWide(raw.data, L"");
  return raw;
}

// Decimal text that fits 32 bits, unsigned or signed: "-1" is stored as 0xFFFFFFFF.
std::optional<RawValue> encodeDword(const corestring& text) {
  const std::optional<int64_t> n = parseInteger(text.str(), false);
  if (!n || *n < std::numeric_limits<int32_t>::min() || *n > std::numeric_limits<uint32_t>::max())
    return std::nullopt;
  const auto v = static_cast<uint32_t>(*n);
  RawValue raw{REG_DWORD, std::vector<BYTE>(sizeof v)};
  std::memcpy(raw.data.data(), &v, sizeof v);
  return raw;
}

// Writes one value: types 1 (SZ), 4 (DWORD) and 7 (MULTI_SZ). Returns the system status.
LSTATUS writeValue(const corestring& path, uint32_t type, const corestring& text,
                   const std::vector<corestring>& items) {
  const std::optional<RegistryValuePath> where = splitValuePath(path);
  if (!where) return ERROR_INVALID_PARAMETER;
  switch (type) {
    case REG_SZ: {
      RawValue raw{REG_SZ, {}};
      appendWide(raw.data, text.str());
      return writeRaw(*where, raw);
    }
    case REG_DWORD: {
      const std::optional<RawValue> raw = encodeDword(text);
      return raw ? writeRaw(*where, *raw) : ERROR_INVALID_DATA;
    }
    case REG_MULTI_SZ:
      return writeRaw(*where, encodeMultiSz(items));
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

std::optional<RegistryValue> readValue(const corestring& path) {
  const std::optional<RegistryValuePath> where = splitValuePath(path);
  RawValue raw;
  if (!where || readRaw(*where, raw) != ERROR_SUCCESS) return std::nullopt;
  return decode(raw);
}

}  // namespace

// `flag` is reserved. A value of a type without a text form (binary) reads as absent.
corestring corestring::readRegistry(const corestring& path, const corestring& def, bool flag) {
  (void)flag;
  LastErrorGuard keep;
  const std::optional<RegistryValue> value = readValue(path);
  if (!value) return def;
  switch (value->type) {
    case REG_SZ: case REG_EXPAND_SZ: case REG_DWORD: case REG_QWORD: case REG_MULTI_SZ:
      return value->text;
    default:
      return def;
  }
}

std::string corestring::readRegistry(const char* path, const char* def) {
  const corestring fallback = fromUtf8(def ? def : "");
  if (!path) return fallback.utf8();
  return readRegistry(fromUtf8(path), fallback, false).utf8();
}

// The observer sees every write, failed ones too; the last error it leaves behind is ours.
bool corestring::writeRegistry(const corestring& path, uint32_t type, bool flag1, bool flag2) const {
  (void)flag1;
  (void)flag2;
  const std::vector<corestring> items = type == REG_MULTI_SZ ? split(L'\0', false) : std::vector<corestring>();
  const LSTATUS status = writeValue(path, type, *this, items);
  const bool ok = status == ERROR_SUCCESS;
  if (HostObserver* observer = hostObserver()) {
    LastErrorGuard keep;
    observer->onRegistryWrite(path, type, *this, ok);
  }
  if (!ok) SetLastError(static_cast<DWORD>(status));
  return ok;
}

std::optional<RegistryValue> registryRead(const corestring& path) {
  LastErrorGuard keep;
  return readValue(path);
}

bool registryWrite(const corestring& path, const RegistryValue& value) {
  const LSTATUS status = writeValue(path, value.type, value.text, value.items);
  if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
  return status == ERROR_SUCCESS;
}

}  // namespace CORE
