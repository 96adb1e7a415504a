// Takes a process snapshot through NtQuerySystemInformation and reads its entries by their
// published offsets, for tests that look at figures rather than at the layout.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace statrix_test {

struct SnapshotEntry {
  uint64_t pid = 0, parent = 0;
  std::wstring name;
  uint32_t threads = 0, session = 0;
  int64_t createTime = 0, userTime = 0, kernelTime = 0, workingSetPrivate = 0;
  uint64_t workingSet = 0, privateBytes = 0;
};

// The module's growth loop (a call with no buffer, then the asked size plus 16384). `status`
// is the last call's answer; the entries are empty unless it is STATUS_SUCCESS. A broken
// layout is a test failure.
std::vector<SnapshotEntry> takeSnapshot(long* status = nullptr);

// The pids of `entries`, in their order.
std::vector<uint64_t> snapshotPids(const std::vector<SnapshotEntry>& entries);

// Clock ticks in 100 ns units, as the snapshot converts them.
int64_t ticksAsNtTime(uint64_t ticks);

}  // namespace statrix_test
