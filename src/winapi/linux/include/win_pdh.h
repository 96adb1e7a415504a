// Performance Data Helper functions of the Linux layer: a counter catalog served over the
// procfs root (System, Memory, Processor, PhysicalDisk, Network Interface).
#pragma once
#include "win_types.h"

typedef LONG PDH_STATUS;
typedef HANDLE PDH_HQUERY;
typedef HANDLE PDH_HCOUNTER;
typedef PDH_HQUERY HQUERY;
typedef PDH_HCOUNTER HCOUNTER;

// Status codes, with the values of the system's PDH.
#define PDH_CSTATUS_VALID_DATA ((PDH_STATUS)0x00000000L)
#define PDH_CSTATUS_NEW_DATA ((PDH_STATUS)0x00000001L)
#define PDH_MORE_DATA ((PDH_STATUS)0x800007D2L)
#define PDH_NO_DATA ((PDH_STATUS)0x800007D5L)
#define PDH_CSTATUS_NO_MACHINE ((PDH_STATUS)0x800007D0L)
#define PDH_CSTATUS_NO_INSTANCE ((PDH_STATUS)0x800007D1L)
#define PDH_CSTATUS_ITEM_NOT_VALIDATED ((PDH_STATUS)0x800007D3L)
#define PDH_CSTATUS_NO_OBJECT ((PDH_STATUS)0xC0000BB8L)
#define PDH_CSTATUS_NO_COUNTER ((PDH_STATUS)0xC0000BB9L)
#define PDH_CSTATUS_INVALID_DATA ((PDH_STATUS)0xC0000BBAL)
#define PDH_MEMORY_ALLOCATION_FAILURE ((PDH_STATUS)0xC0000BBBL)
#define PDH_INVALID_HANDLE ((PDH_STATUS)0xC0000BBCL)
#define PDH_INVALID_ARGUMENT ((PDH_STATUS)0xC0000BBDL)
#define PDH_CSTATUS_BAD_COUNTERNAME ((PDH_STATUS)0xC0000BC0L)
#define PDH_INSUFFICIENT_BUFFER ((PDH_STATUS)0xC0000BC2L)
#define PDH_INVALID_DATA ((PDH_STATUS)0xC0000BC6L)
#define PDH_CALC_NEGATIVE_DENOMINATOR ((PDH_STATUS)0x800007D6L)
#define PDH_CALC_NEGATIVE_VALUE ((PDH_STATUS)0x800007D8L)
#define PDH_STRING_NOT_FOUND ((PDH_STATUS)0xC0000BD4L)

// Formats of PdhGetFormattedCounterValue.
#define PDH_FMT_RAW 0x00000010u
#define PDH_FMT_ANSI 0x00000020u
#define PDH_FMT_UNICODE 0x00000040u
#define PDH_FMT_LONG 0x00000100u
#define PDH_FMT_DOUBLE 0x00000200u
#define PDH_FMT_LARGE 0x00000400u
#define PDH_FMT_NOSCALE 0x00001000u
#define PDH_FMT_1000 0x00002000u
#define PDH_FMT_NOCAP100 0x00008000u

// Detail levels of PdhEnumObjectItemsW.
#define PERF_DETAIL_NOVICE 100u
#define PERF_DETAIL_ADVANCED 200u
#define PERF_DETAIL_EXPERT 300u
#define PERF_DETAIL_WIZARD 400u

typedef struct _PDH_FMT_COUNTERVALUE {
  DWORD CStatus;
  union {
    LONG longValue;
    double doubleValue;
    LONGLONG largeValue;
    LPCSTR AnsiStringValue;
    LPCWSTR WideStringValue;
  };
} PDH_FMT_COUNTERVALUE, *PPDH_FMT_COUNTERVALUE;

WINAPI_LAYER PDH_STATUS PdhOpenQueryW(LPCWSTR dataSource, DWORD_PTR userData, PDH_HQUERY* query);
WINAPI_LAYER PDH_STATUS PdhCloseQuery(PDH_HQUERY query);
WINAPI_LAYER PDH_STATUS PdhAddCounterW(PDH_HQUERY query, LPCWSTR fullCounterPath, DWORD_PTR userData,
                                       PDH_HCOUNTER* counter);
WINAPI_LAYER PDH_STATUS PdhRemoveCounter(PDH_HCOUNTER counter);
WINAPI_LAYER PDH_STATUS PdhCollectQueryData(PDH_HQUERY query);
WINAPI_LAYER PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD type,
                                                    PPDH_FMT_COUNTERVALUE value);
WINAPI_LAYER PDH_STATUS PdhLookupPerfNameByIndexW(LPCWSTR machineName, DWORD nameIndex, LPWSTR nameBuffer,
                                                  LPDWORD nameBufferSize);
WINAPI_LAYER PDH_STATUS PdhEnumObjectItemsW(LPCWSTR dataSource, LPCWSTR machineName, LPCWSTR objectName,
                                            LPWSTR counterList, LPDWORD counterListLength,
                                            LPWSTR instanceList, LPDWORD instanceListLength,
                                            DWORD detailLevel, DWORD flags);
