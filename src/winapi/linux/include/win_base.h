// Handles, threads, events, time, last-error, thread block and module functions of the Linux layer.
#pragma once
#include "win_types.h"

// Thread creation flags, priorities and access rights.
#define CREATE_SUSPENDED 0x00000004u
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_IDLE (-15)
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u
#define SYNCHRONIZE 0x00100000u
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF
#define STILL_ACTIVE 259u
#define MAXIMUM_WAIT_OBJECTS 64u

// Loader notifications.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

// The thread information block as far as this project reads it: the arbitrary-user-pointer
// slot sits at offset 0x28, as in the 64-bit layout.
typedef struct _NT_TIB {
  PVOID ExceptionList;
  PVOID StackBase;
  PVOID StackLimit;
  PVOID SubSystemTib;
  PVOID FiberData;
  PVOID ArbitraryUserPointer;
  struct _NT_TIB* Self;
} NT_TIB, *PNT_TIB;
typedef struct _TEB {
  NT_TIB NtTib;
} TEB, *PTEB;

// Last error.
WINAPI_LAYER DWORD GetLastError(void);
WINAPI_LAYER void SetLastError(DWORD code);

// Handles: threads and events share one handle table; a closed or unknown handle gives
// ERROR_INVALID_HANDLE.
WINAPI_LAYER BOOL CloseHandle(HANDLE h);
WINAPI_LAYER BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                  DWORD access, BOOL inherit, DWORD options);
WINAPI_LAYER DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
WINAPI_LAYER DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// Threads.
WINAPI_LAYER HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID arg,
                                 DWORD flags, LPDWORD threadId);
WINAPI_LAYER DWORD ResumeThread(HANDLE thread);
WINAPI_LAYER HANDLE GetCurrentThread(void);
WINAPI_LAYER HANDLE GetCurrentProcess(void);
WINAPI_LAYER DWORD GetCurrentThreadId(void);
WINAPI_LAYER DWORD GetCurrentProcessId(void);
WINAPI_LAYER BOOL GetExitCodeThread(HANDLE thread, LPDWORD code);
WINAPI_LAYER BOOL SetThreadPriority(HANDLE thread, int priority);
WINAPI_LAYER int GetThreadPriority(HANDLE thread);
WINAPI_LAYER DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask);
WINAPI_LAYER PTEB NtCurrentTeb(void);

// Events.
WINAPI_LAYER HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);
WINAPI_LAYER BOOL SetEvent(HANDLE event);
WINAPI_LAYER BOOL ResetEvent(HANDLE event);

// Time.
WINAPI_LAYER DWORD GetTickCount(void);
WINAPI_LAYER ULONGLONG GetTickCount64(void);
WINAPI_LAYER void Sleep(DWORD milliseconds);

// Modules. LoadLibraryW runs the library's DllMain with DLL_PROCESS_ATTACH, FreeLibrary with
// DLL_PROCESS_DETACH. GetModuleHandleA knows the system library names the module asks for
// ("ntdll.dll", "kernel32.dll", ...), whose GetProcAddress answers come from this layer.
WINAPI_LAYER HMODULE LoadLibraryW(LPCWSTR path);
WINAPI_LAYER BOOL FreeLibrary(HMODULE module);
WINAPI_LAYER HMODULE GetModuleHandleA(LPCSTR name);
WINAPI_LAYER HMODULE GetModuleHandleW(LPCWSTR name);
WINAPI_LAYER FARPROC GetProcAddress(HMODULE module, LPCSTR name);
WINAPI_LAYER DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
WINAPI_LAYER BOOL DisableThreadLibraryCalls(HMODULE module);

// Environment variables (the process environment: setenv/getenv). GetEnvironmentVariableW
// returns the length without the terminator, or the size needed (with it) when `size` is too
// small; 0 with ERROR_ENVVAR_NOT_FOUND when the variable is not set.
WINAPI_LAYER DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
// A null value removes the variable.
WINAPI_LAYER BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);

// System error texts (English, ending in "\r\n" as on Windows). With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really an LPWSTR* that receives a block to release
// with LocalFree.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define MAKELANGID(primary, sub) ((WORD)((((WORD)(sub)) << 10) | (WORD)(primary)))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
WINAPI_LAYER DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                                  DWORD size, void* args);
typedef void* HLOCAL;
WINAPI_LAYER HLOCAL LocalFree(HLOCAL memory);
