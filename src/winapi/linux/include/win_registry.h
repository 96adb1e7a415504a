// Registry functions of the Linux layer, over the file-backed registry (one directory per key,
// one file per value) rooted at $VARNEL_REGISTRY.
#pragma once
#include "win_types.h"
#include "win_base.h"

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define KEY_WOW64_64KEY 0x0100u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define REG_NOTIFY_CHANGE_NAME 0x1u
#define REG_NOTIFY_CHANGE_ATTRIBUTES 0x2u
#define REG_NOTIFY_CHANGE_LAST_SET 0x4u
#define REG_NOTIFY_CHANGE_SECURITY 0x8u
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000u

WINAPI_LAYER LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
WINAPI_LAYER LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                                     REGSAM sam, LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
WINAPI_LAYER LSTATUS RegCloseKey(HKEY key);
WINAPI_LAYER LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                      LPDWORD size);
WINAPI_LAYER LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size);
WINAPI_LAYER LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name);
WINAPI_LAYER LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                   LPDWORD type, LPBYTE data, LPDWORD dataSize);
// Signals `event` once when a value under the key changes (inotify); asynchronous mode only
// (synchronous calls get ERROR_INVALID_PARAMETER). Closing the key ends its registrations
// without signalling them.
WINAPI_LAYER LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event,
                                             BOOL asynchronous);
