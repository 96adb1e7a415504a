// Registry values as the Win32 calls pass them: typed byte blobs of wide characters.
#pragma once
#include <optional>
#include <vector>

#include "advapi32/registry_format.h"

namespace winapi_linux::registry_data {

// The data RegQueryValueExW returns: strings NUL-terminated, REG_MULTI_SZ ending in a double NUL.
LAYER_VISIBLE std::vector<BYTE> toBytes(const registry_format::Value& value);
// The value RegSetValueExW stores; nullopt for a type this registry cannot hold or a REG_DWORD
// that is not 4 bytes (the caller answers ERROR_INVALID_PARAMETER). REG_EXPAND_SZ is kept as
// REG_SZ; strings end at their first NUL.
LAYER_VISIBLE std::optional<registry_format::Value> fromBytes(DWORD type, const BYTE* data, DWORD size);

}  // namespace winapi_linux::registry_data
