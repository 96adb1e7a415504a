// File-system spelling of registry key and value names, and their case-insensitive comparison.
//
// Names map to file names unchanged except where a file name cannot hold them: "/" becomes
// "%2F", a leading "." becomes "%2E" (so files starting with "." are never names: temporary files
// of atomic writes and editors' swap files hide there), the empty name (a key's default value)
// is "%00", and "%" becomes "%25" only where it would otherwise start one of these escapes. So
// names such as "% Processor Time" or "Disk Reads/sec" stay readable on disk.
#pragma once
#include <string>
#include <string_view>

#include "common/layer_visible.h"

namespace winapi_linux::registry_names {

// `name` is UTF-8; so is the result.
LAYER_VISIBLE std::string encode(std::string_view name);
LAYER_VISIBLE std::string decode(std::string_view fileName);
// Directory entries that are no key or value.
LAYER_VISIBLE bool isHidden(std::string_view fileName);
// Registry names compare case-insensitively (simple Unicode upper-casing, as Windows does).
LAYER_VISIBLE bool sameName(std::wstring_view a, std::wstring_view b);
// The key used to order names in enumerations.
LAYER_VISIBLE std::wstring upperCase(std::wstring_view name);

}  // namespace winapi_linux::registry_names
