// NtQuerySystemInformation(Ex): dispatch of the information classes this layer serves. Nothing
// escapes these entry points: a failed allocation is STATUS_NO_MEMORY.
#include <cstring>
#include <new>

#include "ntdll/system_queries.h"

WINAPI_LAYER NTSTATUS NTAPI NtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length,
                                                     PULONG returned) try {
  switch (infoClass) {
    case SystemProcessInformation:
      return winapi_linux::queryProcessSnapshot(buffer, length, returned);
    case SystemProcessorPerformanceInformation:
      // The calling thread's group; threads of this layer all run in group 0.
      return winapi_linux::queryProcessorPerformance(0, buffer, length, returned);
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
} catch (const std::bad_alloc&) {
  return STATUS_NO_MEMORY;
}

WINAPI_LAYER NTSTATUS NTAPI NtQuerySystemInformationEx(ULONG infoClass, PVOID input, ULONG inputLength, PVOID buffer,
                                                       ULONG length, PULONG returned) try {
  if (infoClass != SystemProcessorPerformanceInformation) return STATUS_INVALID_INFO_CLASS;
  if (!input || inputLength != sizeof(USHORT)) return STATUS_INVALID_PARAMETER;
  USHORT group;
  std::memcpy(&group, input, sizeof group);
  return winapi_linux::queryProcessorPerformance(group, buffer, length, returned);
} catch (const std::bad_alloc&) {
  return STATUS_NO_MEMORY;
}
