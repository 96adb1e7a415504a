// System information of the Linux layer: processor times and the process snapshot
// (NtQuerySystemInformation), memory status, processor groups, processes, tokens and accounts.
#pragma once
#include "win_types.h"
#include "win_base.h"

// Status of a query whose procfs source could not be read or parsed.
#ifndef STATUS_UNSUCCESSFUL
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#endif

// Information classes served by NtQuerySystemInformation(Ex). Class 5 writes the published
// 64-bit SYSTEM_PROCESS_INFORMATION entries without thread records (NumberOfThreads still
// counts the threads); the first entry is the idle process, pid 0, named "Idle", with one
// thread per processor and their summed idle time as its kernel time.
#define SystemProcessInformation 5
#define SystemProcessorPerformanceInformation 8

// Class 8 answers processor group 0 (the first 64 processors); the Ex form answers any group.
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
// Binary SID layout. A token's user is S-1-22-1-<uid>: revision 1, two sub-authorities,
// identifier authority 22 (Unix users), sub-authorities 1 and the real uid.
#define SID_REVISION 1
typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;
typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
} SID, *PISID;
typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;
typedef enum _SID_NAME_USE { SidTypeUser = 1, SidTypeGroup, SidTypeDomain, SidTypeAlias, SidTypeWellKnownGroup,
                             SidTypeDeletedAccount, SidTypeInvalid, SidTypeUnknown } SID_NAME_USE, *PSID_NAME_USE;

// OpenProcess fails with ERROR_INVALID_PARAMETER for a pid that does not exist (and pid 0).
// LookupAccountSidW resolves S-1-22-1-<uid> to the user name and the host name as domain;
// other SIDs and unknown uids give ERROR_NONE_MAPPED. ProcessIdToSessionId reports the audit
// session, with "never set" as session 0.
WINAPI_LAYER HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid);
WINAPI_LAYER BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
WINAPI_LAYER BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID buffer, DWORD length,
                                      PDWORD returned);
WINAPI_LAYER BOOL LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                                    LPDWORD domainLength, PSID_NAME_USE use);
WINAPI_LAYER BOOL ProcessIdToSessionId(DWORD pid, DWORD* sessionId);
// The ids of the running processes, the idle process (0) first; `bytes` is the buffer's size.
// A buffer that comes back full may have been too small: ask again with a larger one.
WINAPI_LAYER BOOL EnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned);
