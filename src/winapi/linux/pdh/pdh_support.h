// Shared pieces of the PDH entry points: no exception leaves them, and machine names are local.
#pragma once
#include <new>
#include <string_view>

#include "winapi.h"

namespace winapi_linux::pdh {

// Runs an entry point's body: an allocation failure is PDH's memory status, anything else
// thrown is invalid data.
template <class F>
PDH_STATUS guarded(F body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PDH_MEMORY_ALLOCATION_FAILURE;
  } catch (...) {
    return PDH_INVALID_DATA;
  }
}

// Empty, ".", "localhost" or this host's name (any case, leading backslashes ignored).
bool isLocalMachine(std::wstring_view machine);

}  // namespace winapi_linux::pdh
