// The PhysicalDisk instances: which `diskstats` entries are whole disks.
#pragma once
#include <vector>

#include "procfs/diskstats_parse.h"

namespace winapi_linux::perf {

// The whole disks of `all`, in file order.
LAYER_VISIBLE std::vector<procfs::DiskStat> wholeDisks(const std::vector<procfs::DiskStat>& all);
// The figures of every whole disk added up (the "_Total" instance).
LAYER_VISIBLE procfs::DiskStat diskTotal(const std::vector<procfs::DiskStat>& disks);

}  // namespace winapi_linux::perf
