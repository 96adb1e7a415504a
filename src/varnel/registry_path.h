// Registry path text taken apart: the predefined root named by its first part and the rest.
#pragma once
#include <optional>
#include <string>

#include "varnel/corestring.h"
#include "winapi.h"

namespace CORE {

// "ROOT\Sub\Key": a predefined root (HKLM, HKCU, HKU, HKCR or their long names, any case) and
// the key below it.
struct RegistryKeyPath {
  HKEY root;
  std::wstring subKey;
};

// "ROOT\Sub\Key\ValueName": the key's path and the value's name, which may be empty (the key's
// default value).
struct RegistryValuePath {
  HKEY root;
  std::wstring subKey;
  std::wstring valueName;
};

// A key path; the root alone names the root itself, and trailing separators are dropped.
// Nothing for an unknown root or a path holding a NUL.
std::optional<RegistryKeyPath> splitKeyPath(const corestring& keyPath);

// A value path: everything after the last separator is the value's name. Nothing for an unknown
// root, a path without a separator or one holding a NUL.
std::optional<RegistryValuePath> splitValuePath(const corestring& valuePath);

}  // namespace CORE
