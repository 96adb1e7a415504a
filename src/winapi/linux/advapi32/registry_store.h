// The registry's files: a key is a directory, a value a file in it. Names are matched
// case-insensitively and created with the caller's spelling; values are written atomically.
//
// Everything below the registry root is reached through directory descriptors, without following
// a symbolic link: a link under the root is no key and no value, so nothing read or written
// through the registry lies outside it. The root's own path is trusted and may hold links.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "advapi32/registry_format.h"
#include "common/scoped_fd.h"

namespace winapi_linux::registry_store {

// The directory `relative` ("HKLM/Software/X": file names, "/"-separated, as openKey reports
// them) below `root`. ERROR_FILE_NOT_FOUND when it, or a step on the way, is missing, no
// directory or a link. With `create`, the root and the first step are made when missing.
LONG openDirectory(const std::string& root, const std::string& relative, bool create, ScopedFd& dir);

// The key `subKey` ("A\B\C") below the directory `base`, which `relative` names; `relative` is
// extended by the file names of the steps taken. With `create`, missing keys are made; `created`
// then tells whether the last one is new, and a failure removes again the keys this call made.
// ERROR_FILE_NOT_FOUND when a key is missing and not created.
// Every call answers ERROR_INVALID_PARAMETER for a key or value name holding a NUL.
LONG openKey(int base, std::wstring_view subKey, bool create, ScopedFd& dir, std::string& relative, bool* created);

// ERROR_FILE_NOT_FOUND for a missing value, ERROR_INVALID_DATA for a malformed file,
// ERROR_KEY_DELETED when the key's directory is gone.
LONG readValue(int keyDir, std::wstring_view name, registry_format::Value& value);
// Replaces the value's file by another one holding the new content, so a reader sees the old
// or the new content, never part of it. `keyDir` is a descriptor opened for this call alone:
// writers of a key take turns through a flock on it. ERROR_INVALID_PARAMETER when the format cannot hold it,
// ERROR_FILE_TOO_LARGE when its file would exceed registry_format::kMaxContent.
LONG writeValue(int keyDir, std::wstring_view name, const registry_format::Value& value);
LONG deleteValue(int keyDir, std::wstring_view name);
// The key's value names, ordered case-insensitively.
LONG listValues(int keyDir, std::vector<std::wstring>& names);

}  // namespace winapi_linux::registry_store
