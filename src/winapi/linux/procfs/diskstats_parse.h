// Pure parser of the procfs file `diskstats`: one entry per block device, in file order.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux::procfs {

// The cumulative figures of one device; times in milliseconds, sizes in 512-byte sectors.
struct DiskStat {
  std::string name;
  uint64_t reads = 0, sectorsRead = 0, msReading = 0;
  uint64_t writes = 0, sectorsWritten = 0, msWriting = 0;
  uint64_t inProgress = 0, msDoingIo = 0, weightedMs = 0;
};

// Lines that are garbled, cut off or shorter than the eleven figures every kernel since 2.6.25
// prints are left out; the other devices are still read.
LAYER_VISIBLE std::vector<DiskStat> parseDiskstats(std::string_view text);

}  // namespace winapi_linux::procfs
