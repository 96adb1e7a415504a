// Run-time resolution of the system-information queries exported by "ntdll.dll".
#pragma once
#include "frame/host/host.h"

namespace nt {

using QuerySystemInformationFn = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
using QuerySystemInformationExFn = LONG(NTAPI*)(ULONG infoClass, PVOID input, ULONG inputLength, PVOID buffer,
                                                ULONG length, PULONG returned);

// Resolves both queries once; the addresses are kept for the life of the module. True when the
// plain query is available (the extended one is optional: it only exists on systems with
// processor groups and is only needed there). A failed resolution is retried on the next call.
bool resolveQueries();

// The resolved addresses, or null before a successful resolveQueries().
QuerySystemInformationFn querySystemInformation();
QuerySystemInformationExFn querySystemInformationEx();

}  // namespace nt
