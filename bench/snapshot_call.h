// The module's way of taking a process snapshot, for the benchmarks: a call for the size, then
// the full call into a buffer of the asked size plus 16384, reused from pass to pass.
#pragma once
#include <cstring>
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

// The number of records in a successful snapshot, following the next-entry offsets.
inline int countProcesses(const std::vector<unsigned char>& buffer) {
  int count = 0;
  for (size_t off = 0;; ++count) {
    ULONG next;
    std::memcpy(&next, buffer.data() + off, sizeof next);
    if (next == 0) return count + 1;
    off += next;
  }
}
