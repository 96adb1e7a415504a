// System information of the Linux layer: processor times and the process snapshot
// (NtQuerySystemInformation), memory status, processor groups, processes, tokens and accounts.
#pragma once
#include "win_types.h"
#include "win_base.h"

// Information classes served by NtQuerySystemInformation(Ex).
#define SystemProcessInformation 5
#define SystemProcessorPerformanceInformation 8

// Both resolved by the module at run time through GetProcAddress(GetModuleHandleA("ntdll.dll"), ...).
WINAPI_LAYER NTSTATUS NTAPI NtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
// The input is a USHORT processor group number for SystemProcessorPerformanceInformation.
WINAPI_LAYER NTSTATUS NTAPI NtQuerySystemInformationEx(ULONG infoClass, PVOID input, ULONG inputLength, PVOID buffer,
                                                       ULONG length, PULONG returned);

#define ALL_PROCESSOR_GROUPS 0xFFFF
WINAPI_LAYER WORD GetActiveProcessorGroupCount(void);
WINAPI_LAYER DWORD GetActiveProcessorCount(WORD group);

typedef struct _MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORDLONG ullTotalPhys;
  DWORDLONG ullAvailPhys;
  DWORDLONG ullTotalPageFile;
  DWORDLONG ullAvailPageFile;
  DWORDLONG ullTotalVirtual;
  DWORDLONG ullAvailVirtual;
  DWORDLONG ullAvailExtendedVirtual;
} MEMORYSTATUSEX, *LPMEMORYSTATUSEX;
WINAPI_LAYER BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);

// Processes, tokens and accounts.
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define TOKEN_QUERY 0x0008u
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;
typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;
typedef enum _SID_NAME_USE { SidTypeUser = 1, SidTypeGroup, SidTypeDomain, SidTypeAlias, SidTypeWellKnownGroup,
                             SidTypeDeletedAccount, SidTypeInvalid, SidTypeUnknown } SID_NAME_USE, *PSID_NAME_USE;

WINAPI_LAYER HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid);
WINAPI_LAYER BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
WINAPI_LAYER BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID buffer, DWORD length,
                                      PDWORD returned);
WINAPI_LAYER BOOL LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                                    LPDWORD domainLength, PSID_NAME_USE use);
WINAPI_LAYER BOOL ProcessIdToSessionId(DWORD pid, DWORD* sessionId);
