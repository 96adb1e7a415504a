// Taking registry path text apart into a predefined root, a key below it and a value's name.
#include "registry_path.h"

namespace CORE {
namespace {

// The root named by the text before the first separator, and where that separator is (npos for
// none); nothing for an unknown root.
std::optional<HKEY> rootOf(const std::wstring& path, size_t& separator) {
  static const struct {
    const wchar_t* name;
    HKEY key;
  } roots[] = {{L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
               {L"HKCU", HKEY_CURRENT_USER},  {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
               {L"HKU", HKEY_USERS},          {L"HKEY_USERS", HKEY_USERS},
               {L"HKCR", HKEY_CLASSES_ROOT},  {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  separator = path.find(L'\\');
  const corestring rootName(path.substr(0, separator));
  for (const auto& r : roots) {
    if (rootName.comparei(r.name) == 0) return r.key;
  }
  return std::nullopt;
}

// The registry calls end names at a NUL: a path holding one would name another key or value
// (a value path "A\name<NUL>tail" would write "A\name").
bool hasNul(const std::wstring& path) { return path.find(L'\0') != std::wstring::npos; }

}  // namespace

std::optional<RegistryKeyPath> splitKeyPath(const corestring& keyPath) {
  const std::wstring& p = keyPath.str();
  if (hasNul(p)) return std::nullopt;
  size_t sep;
  const std::optional<HKEY> root = rootOf(p, sep);
  if (!root) return std::nullopt;
  RegistryKeyPath key{*root, sep == std::wstring::npos ? std::wstring() : p.substr(sep + 1)};
  while (!key.subKey.empty() && key.subKey.back() == L'\\') key.subKey.pop_back();
  return key;
}

std::optional<RegistryValuePath> splitValuePath(const corestring& valuePath) {
  const std::wstring& p = valuePath.str();
  if (hasNul(p)) return std::nullopt;
  size_t first;
  const std::optional<HKEY> root = rootOf(p, first);
  if (!root || first == std::wstring::npos) return std::nullopt;
  // Unlike a key path, the key part keeps its separators as written.
  const size_t last = p.rfind(L'\\');
  return RegistryValuePath{*root, last == first ? std::wstring() : p.substr(first + 1, last - first - 1),
                           p.substr(last + 1)};
}

}  // namespace CORE
