// The information classes behind NtQuerySystemInformation(Ex), one implementation file each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/layer_visible.h"
#include "winapi.h"

namespace winapi_linux {

// Processors form groups of 64, in the order of the cpuN lines of `stat`.
inline constexpr unsigned kProcessorsPerGroup = 64;

// Class 8 for one processor group: 48 bytes per processor of the group.
NTSTATUS queryProcessorPerformance(USHORT group, PVOID buffer, ULONG length, PULONG returned);

// Class 5: the idle process, then one entry per process of the procfs root.
NTSTATUS queryProcessSnapshot(PVOID buffer, ULONG length, PULONG returned);

// The pids of the snapshot's own listing of `root` when it was taken less than 100 ms ago (a
// pass lists the root anyway; a caller that wants only the ids right after it needs no second
// listing); false otherwise.
bool recentProcessIds(const std::string& root, std::vector<uint32_t>& pids);

// For tests and benchmarks: sets how many procfs descriptors the snapshot may keep open
// between passes (0: open and close every file on every pass; kDefaultSnapshotDescriptors:
// the share of the process's descriptor limit it takes by itself) and forgets what it kept.
inline constexpr size_t kDefaultSnapshotDescriptors = static_cast<size_t>(-1);
LAYER_VISIBLE void setSnapshotDescriptorLimit(size_t limit);
// The procfs descriptors the snapshot keeps open now.
LAYER_VISIBLE size_t snapshotDescriptorsKept();

}  // namespace winapi_linux
