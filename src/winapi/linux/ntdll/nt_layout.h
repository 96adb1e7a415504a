// Published 64-bit layouts of the records NtQuerySystemInformation writes, checked field by field.
#pragma once
#include <cstddef>

#include "winapi.h"

namespace winapi_linux::nt {

static_assert(sizeof(void*) == 8, "the layouts below are those of 64-bit Windows");

struct UnicodeString {
  USHORT Length;         // bytes, without the terminating NUL
  USHORT MaximumLength;  // bytes, with it
  WCHAR* Buffer;
};
static_assert(offsetof(UnicodeString, Length) == 0x0);
static_assert(offsetof(UnicodeString, MaximumLength) == 0x2);
static_assert(offsetof(UnicodeString, Buffer) == 0x8);
static_assert(sizeof(UnicodeString) == 0x10);

// Class 8 (SystemProcessorPerformanceInformation): one per processor. KernelTime includes IdleTime.
struct ProcessorPerformance {
  LONGLONG IdleTime;
  LONGLONG KernelTime;
  LONGLONG UserTime;
  LONGLONG DpcTime;
  LONGLONG InterruptTime;
  ULONG InterruptCount;
};
static_assert(offsetof(ProcessorPerformance, IdleTime) == 0x00);
static_assert(offsetof(ProcessorPerformance, KernelTime) == 0x08);
static_assert(offsetof(ProcessorPerformance, UserTime) == 0x10);
static_assert(offsetof(ProcessorPerformance, DpcTime) == 0x18);
static_assert(offsetof(ProcessorPerformance, InterruptTime) == 0x20);
static_assert(offsetof(ProcessorPerformance, InterruptCount) == 0x28);
static_assert(sizeof(ProcessorPerformance) == 48);

// Class 5 (SystemProcessInformation): the fixed part of one process entry. The image name
// and, on Windows, the thread records follow it; this layer writes no thread records.
struct ProcessEntry {
  ULONG NextEntryOffset;
  ULONG NumberOfThreads;
  LONGLONG WorkingSetPrivateSize;
  ULONG HardFaultCount;
  ULONG NumberOfThreadsHighWatermark;
  ULONGLONG CycleTime;
  LONGLONG CreateTime;
  LONGLONG UserTime;
  LONGLONG KernelTime;
  UnicodeString ImageName;
  LONG BasePriority;
  HANDLE UniqueProcessId;
  HANDLE InheritedFromUniqueProcessId;
  ULONG HandleCount;
  ULONG SessionId;
  ULONG_PTR UniqueProcessKey;
  SIZE_T PeakVirtualSize;
  SIZE_T VirtualSize;
  ULONG PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T QuotaPeakPagedPoolUsage;
  SIZE_T QuotaPagedPoolUsage;
  SIZE_T QuotaPeakNonPagedPoolUsage;
  SIZE_T QuotaNonPagedPoolUsage;
  SIZE_T PagefileUsage;
  SIZE_T PeakPagefileUsage;
  SIZE_T PrivatePageCount;
  LONGLONG ReadOperationCount;
  LONGLONG WriteOperationCount;
  LONGLONG OtherOperationCount;
  LONGLONG ReadTransferCount;
  LONGLONG WriteTransferCount;
  LONGLONG OtherTransferCount;
};
static_assert(offsetof(ProcessEntry, NextEntryOffset) == 0x00);
static_assert(offsetof(ProcessEntry, NumberOfThreads) == 0x04);
static_assert(offsetof(ProcessEntry, WorkingSetPrivateSize) == 0x08);
static_assert(offsetof(ProcessEntry, HardFaultCount) == 0x10);
static_assert(offsetof(ProcessEntry, NumberOfThreadsHighWatermark) == 0x14);
static_assert(offsetof(ProcessEntry, CycleTime) == 0x18);
static_assert(offsetof(ProcessEntry, CreateTime) == 0x20);
static_assert(offsetof(ProcessEntry, UserTime) == 0x28);
static_assert(offsetof(ProcessEntry, KernelTime) == 0x30);
static_assert(offsetof(ProcessEntry, ImageName) == 0x38);
static_assert(offsetof(ProcessEntry, ImageName) + offsetof(UnicodeString, Buffer) == 0x40);
static_assert(offsetof(ProcessEntry, BasePriority) == 0x48);
static_assert(offsetof(ProcessEntry, UniqueProcessId) == 0x50);
static_assert(offsetof(ProcessEntry, InheritedFromUniqueProcessId) == 0x58);
static_assert(offsetof(ProcessEntry, HandleCount) == 0x60);
static_assert(offsetof(ProcessEntry, SessionId) == 0x64);
static_assert(offsetof(ProcessEntry, UniqueProcessKey) == 0x68);
static_assert(offsetof(ProcessEntry, PeakVirtualSize) == 0x70);
static_assert(offsetof(ProcessEntry, VirtualSize) == 0x78);
static_assert(offsetof(ProcessEntry, PageFaultCount) == 0x80);
static_assert(offsetof(ProcessEntry, PeakWorkingSetSize) == 0x88);
static_assert(offsetof(ProcessEntry, WorkingSetSize) == 0x90);
static_assert(offsetof(ProcessEntry, QuotaPeakPagedPoolUsage) == 0x98);
static_assert(offsetof(ProcessEntry, QuotaPagedPoolUsage) == 0xA0);
static_assert(offsetof(ProcessEntry, QuotaPeakNonPagedPoolUsage) == 0xA8);
static_assert(offsetof(ProcessEntry, QuotaNonPagedPoolUsage) == 0xB0);
static_assert(offsetof(ProcessEntry, PagefileUsage) == 0xB8);
static_assert(offsetof(ProcessEntry, PeakPagefileUsage) == 0xC0);
static_assert(offsetof(ProcessEntry, PrivatePageCount) == 0xC8);
static_assert(offsetof(ProcessEntry, ReadOperationCount) == 0xD0);
static_assert(offsetof(ProcessEntry, WriteOperationCount) == 0xD8);
static_assert(offsetof(ProcessEntry, OtherOperationCount) == 0xE0);
static_assert(offsetof(ProcessEntry, ReadTransferCount) == 0xE8);
static_assert(offsetof(ProcessEntry, WriteTransferCount) == 0xF0);
static_assert(offsetof(ProcessEntry, OtherTransferCount) == 0xF8);
static_assert(sizeof(ProcessEntry) == 0x100);

}  // namespace winapi_linux::nt
