// Reading a bound configuration key: opening it by path and turning its values into text.
#include "config_key.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "registry_path.h"
#include "runtime_log.h"

namespace CORE::config {
namespace {

// Value names are at most this long (in characters, without the NUL) in the registry.
constexpr DWORD kMaxValueName = 16383;

std::wstring wideOf(const BYTE* data, DWORD size) {
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
  return text;
}

template <class T>
bool numberText(const BYTE* data, DWORD size, corestring& text) {
  if (size < sizeof(T)) return false;
  T v;
  std::memcpy(&v, data, sizeof v);
  text = corestring(v, 10);
  return true;
}

// The text of one value; false for a type without a text form.
bool textOf(DWORD type, const BYTE* data, DWORD size, corestring& text) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::wstring all = wideOf(data, size);
      text = corestring(all.substr(0, all.find(L'\0')));
      return true;
    }
    case REG_DWORD:
      return numberText<uint32_t>(data, size, text);
    case REG_QWORD:
      return numberText<uint64_t>(data, size, text);
    case REG_MULTI_SZ: {
      // Items end at their NUL; an empty item (the double NUL) ends the list.
      std::wstring all = wideOf(data, size);
      const size_t end = all.find(std::wstring(L"\0\0", 2));
      if (end != std::wstring::npos) all.resize(end);
      while (!all.empty() && all.back() == L'\0') all.pop_back();
      text = corestring(all);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

ConfigKey::~ConfigKey() {
  if (key_) RegCloseKey(key_);
}

LSTATUS ConfigKey::open(const corestring& keyPath) {
  const std::optional<RegistryKeyPath> path = splitKeyPath(keyPath);
  if (!path) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(path->root, path->subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  // Without the right to create it, an existing key can still be opened for reading.
  if (status != ERROR_SUCCESS) {
    status = RegOpenKeyExW(path->root, path->subKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key);
  }
  if (status != ERROR_SUCCESS) return status;
  if (key_) RegCloseKey(key_);
  key_ = key;
  keyPath_ = keyPath;
  unreadable_.clear();
  return ERROR_SUCCESS;
}

bool ConfigKey::readAll(corestrmap& out) {
  if (!key_) return false;
  corestrmap values;
  std::map<corestring, LSTATUS, corestringLessI> unreadable;  // left out, with the reason
  std::vector<wchar_t> name(256);
  std::vector<BYTE> data(1024);
  int retries = 0;  // of the current index; a value that keeps growing is left out
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    LSTATUS status = RegEnumValueW(key_, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA && ++retries <= 8) {
      // Grow whichever buffer was short and read the same index again.
      if (dataSize > data.size()) {
        data.resize(dataSize);
      } else if (data.size() < 64 * 1024 * 1024) {
        data.resize(data.size() * 2);
      }
      if (name.size() <= kMaxValueName) name.resize(kMaxValueName + 1);
      continue;
    }
    corestring text;
    if (status == ERROR_SUCCESS) {
      if (textOf(type, data.data(), dataSize, text)) {
        values[corestring(name.data(), nameLength)] = text;
      } else if (type == REG_DWORD || type == REG_QWORD) {
        status = ERROR_INVALID_DATA;  // too few bytes for its number; other types are absent
      }
    }
    if (status != ERROR_SUCCESS) {
      // The value could not be read. If its name still can, the key is fine and only this
      // value is left out; otherwise the key itself is unreadable.
      nameLength = static_cast<DWORD>(name.size());
      if (RegEnumValueW(key_, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
      unreadable.emplace(corestring(name.data(), nameLength), status);
    }
    ++index;
    retries = 0;
  }
  std::set<corestring, corestringLessI> names;
  for (const auto& [valueName, status] : unreadable) {
    if (!unreadable_.contains(valueName)) {
      runtime::log(Warn, L"configuration %s: value %s cannot be read (%s); it is left out", keyPath_, valueName,
                   corestring::formatError(static_cast<uint32_t>(status)));
    }
    names.insert(valueName);
  }
  unreadable_ = std::move(names);
  out = std::move(values);
  return true;
}

bool ConfigKey::readOne(const corestring& name, corestring& text) const {
  if (!key_) return false;
  std::vector<BYTE> data(1024);
  for (int tries = 0; tries < 8; ++tries) {
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status = RegQueryValueExW(key_, name.c_str(), nullptr, &type, data.data(), &size);
    if (status != ERROR_MORE_DATA) return status == ERROR_SUCCESS && textOf(type, data.data(), size, text);
    data.resize(std::max<size_t>(size, data.size() * 2));  // grown while it was read: again
  }
  return false;
}

}  // namespace CORE::config
