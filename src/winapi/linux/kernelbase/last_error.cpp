// Per-thread last-error value of the Linux layer.
#include "winapi.h"

namespace {
thread_local DWORD t_lastError = 0;
}

WINAPI_LAYER DWORD GetLastError(void) { return t_lastError; }
WINAPI_LAYER void SetLastError(DWORD code) { t_lastError = code; }
