// One reading of the procfs sources a PDH query needs: each file read once per collection.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "procfs/diskstats_parse.h"
#include "procfs/netdev_parse.h"
#include "procfs/procfs_parse.h"
#include "procfs/system_load_parse.h"

namespace winapi_linux::perf {

// A source that could not be read or parsed stays empty; counters reading it get no data.
struct Snapshot {
  uint32_t sources = 0;  // the sources that were asked for
  std::optional<procfs::SystemStat> stat;
  std::optional<procfs::Meminfo> meminfo;
  std::optional<procfs::Vmstat> vmstat;
  std::optional<procfs::Loadavg> loadavg;
  std::optional<uint64_t> uptime;     // hundredths of a second
  std::optional<uint64_t> processes;  // numeric directories of the root
  std::optional<std::vector<procfs::DiskStat>> disks;  // whole disks only
  std::optional<std::vector<procfs::NetDevStat>> interfaces;
};

// Reads the sources named by the bit set `sources` (perf::Source) under the procfs root.
Snapshot readSnapshot(uint32_t sources);

}  // namespace winapi_linux::perf
