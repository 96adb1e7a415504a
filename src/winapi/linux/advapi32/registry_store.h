// The registry's files: a key is a directory, a value a file in it. Names are matched
// case-insensitively and created with the caller's spelling; values are written atomically.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "advapi32/registry_format.h"

namespace winapi_linux::registry_store {

// The directory of `subKey` ("A\B\C", relative to `baseDir`). With `create`, missing keys are
// made; `created` then tells whether the last one is new, and a failure removes again the keys
// this call made. ERROR_FILE_NOT_FOUND when a key is missing and not created.
// Every call answers ERROR_INVALID_PARAMETER for a key or value name holding a NUL.
LONG openKey(const std::string& baseDir, std::wstring_view subKey, bool create, std::string& dir, bool* created);

// ERROR_FILE_NOT_FOUND for a missing value, ERROR_INVALID_DATA for a malformed file,
// ERROR_KEY_DELETED when the key's directory is gone.
LONG readValue(const std::string& keyDir, std::wstring_view name, registry_format::Value& value);
// Writes a temporary file beside the value and renames it into place, so a reader sees the old
// or the new content, never part of it. ERROR_INVALID_PARAMETER when the format cannot hold it,
// ERROR_FILE_TOO_LARGE when its file would exceed registry_format::kMaxContent.
LONG writeValue(const std::string& keyDir, std::wstring_view name, const registry_format::Value& value);
LONG deleteValue(const std::string& keyDir, std::wstring_view name);
// The key's value names, ordered case-insensitively.
LONG listValues(const std::string& keyDir, std::vector<std::wstring>& names);

}  // namespace winapi_linux::registry_store
