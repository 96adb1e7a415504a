// The PhysicalDisk instances are the whole disks of `diskstats`, named by device ("sda").
//
// Left out are:
//   - partitions: entries whose name is another entry's name followed by a partition number,
//     spelt as the kernel names partitions: digits after a name that ends in a letter ("sda1"
//     of "sda"), "p" and digits after a name that ends in a digit ("nvme0n1p1" of "nvme0n1",
//     "mmcblk0p2"). So "sdaa" (the 27th SCSI disk) is not taken for a partition of "sda", nor
//     "dm-10" for one of "dm-1", although their names start with another entry's name.
//   - virtual devices: loop*, ram*, zram*.
// "_Total" adds up the whole disks.
#include "pdh/disk_instances.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>

namespace winapi_linux::perf {

namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// `name` is a partition of `disk`.
bool partitionOf(std::string_view name, std::string_view disk) {
  if (disk.empty() || name.size() <= disk.size() || name.substr(0, disk.size()) != disk) return false;
  std::string_view rest = name.substr(disk.size());
  if (isDigit(disk.back())) return rest.size() > 1 && rest[0] == 'p' && allDigits(rest.substr(1));
  return allDigits(rest);
}

bool isVirtual(std::string_view name) {
  for (std::string_view prefix : {"loop", "ram", "zram"})
    if (name.substr(0, prefix.size()) == prefix) return true;
  return false;
}

}  // namespace

std::vector<procfs::DiskStat> wholeDisks(const std::vector<procfs::DiskStat>& all) {
  std::unordered_set<std::string_view> names;
  for (const auto& d : all) names.insert(d.name);
  std::vector<procfs::DiskStat> disks;
  for (const auto& d : all) {
    if (isVirtual(d.name)) continue;
    bool partition = false;
    // Candidate disks are the prefixes of the name: at most one per length.
    for (size_t len = 1; len < d.name.size() && !partition; ++len) {
      std::string_view prefix = std::string_view(d.name).substr(0, len);
      partition = names.count(prefix) && partitionOf(d.name, prefix);
    }
    if (!partition) disks.push_back(d);
  }
  return disks;
}

procfs::DiskStat diskTotal(const std::vector<procfs::DiskStat>& disks) {
  procfs::DiskStat t;
  t.name = "_Total";
  // Cumulative figures wrap like the kernel's own; a wrap shows as a decrease and is caught there.
  for (const auto& d : disks) {
    t.reads += d.reads, t.sectorsRead += d.sectorsRead, t.msReading += d.msReading;
    t.writes += d.writes, t.sectorsWritten += d.sectorsWritten, t.msWriting += d.msWriting;
    t.inProgress += d.inProgress, t.msDoingIo += d.msDoingIo, t.weightedMs += d.weightedMs;
  }
  return t;
}

}  // namespace winapi_linux::perf
