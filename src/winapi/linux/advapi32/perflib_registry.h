// The performance-counter name lists of the registry: "Perflib\009\Counter" (English) and
// "Perflib\CurrentLanguage\Counter" (the display language) under HKLM, each a REG_MULTI_SZ of
// index text and name pairs. The English list is the catalog's unless the registry root holds one.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "advapi32/registry_format.h"

namespace winapi_linux::perflib {

// `subKey` (relative to HKLM) names the English list's key, in any case and with any run of
// backslashes.
LAYER_VISIBLE bool isEnglishKey(std::wstring_view subKey);
// Its relative directory below the HKLM directory of the registry root.
std::string englishKeyDirectory();
// The built-in value served as "Counter" of that key while the registry root holds none.
LAYER_VISIBLE bool builtinValue(std::wstring_view valueName, registry_format::Value& value);

// The list PDH names counters with: CurrentLanguage\Counter of the registry root, else the
// English list (the root's 009\Counter, else the catalog's). The same object is returned while
// the registry's lists are unchanged, so callers may keep what they derive from it.
std::shared_ptr<const std::vector<std::wstring>> localList();

}  // namespace winapi_linux::perflib
