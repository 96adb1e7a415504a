// The module's way of taking a process snapshot, for the benchmarks: a call for the size, then
// the full call into a buffer of the asked size plus 16384, reused from pass to pass.
#pragma once
#include <vector>

#include "winapi.h"

inline NTSTATUS takeSnapshot(std::vector<unsigned char>& buffer) {
  ULONG needed = 0;
  NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, nullptr, 0, &needed);
  while (status == STATUS_INFO_LENGTH_MISMATCH) {
    if (buffer.size() < needed + 16384) buffer.resize(needed + 16384);
    status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                      &needed);
  }
  return status;
}
