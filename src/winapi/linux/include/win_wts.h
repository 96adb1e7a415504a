// Terminal-session functions of the Linux layer: login sessions from the utmp records.
#pragma once
#include "win_types.h"

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE)nullptr)

typedef enum _WTS_CONNECTSTATE_CLASS {
  WTSActive,
  WTSConnected,
  WTSConnectQuery,
  WTSShadow,
  WTSDisconnected,
  WTSIdle,
  WTSListen,
  WTSReset,
  WTSDown,
  WTSInit
} WTS_CONNECTSTATE_CLASS;

typedef struct _WTS_SESSION_INFOW {
  DWORD SessionId;
  LPWSTR pWinStationName;
  WTS_CONNECTSTATE_CLASS State;
} WTS_SESSION_INFOW, *PWTS_SESSION_INFOW;

WINAPI_LAYER BOOL WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                                        PWTS_SESSION_INFOW* sessionInfo, DWORD* count);
WINAPI_LAYER void WTSFreeMemory(PVOID memory);
