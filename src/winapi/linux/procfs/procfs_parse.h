// Pure parsers of the system-wide procfs files `stat` and `meminfo`: text in, figures out.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux::procfs {

// One cpuN line of `stat`, in clock ticks. Kernels older than the steal column leave the
// later fields 0; guest time is already part of user time and is not kept.
struct CpuTicks {
  uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
};

struct SystemStat {
  std::vector<CpuTicks> cpus;                // the cpuN lines in file order; the aggregate "cpu" line is not one
  size_t garbledProcessors = 0;              // cpuN lines that were garbled or cut off, not in `cpus`
  std::optional<uint64_t> bootTime;          // btime, seconds since 1970
  std::optional<uint64_t> contextSwitches;   // ctxt
  std::optional<uint64_t> processesCreated;  // processes
  std::optional<uint64_t> procsRunning;
  std::optional<uint64_t> procsBlocked;
};

// nullopt when the text holds no cpuN line. A garbled or cut-off cpuN line is counted in
// garbledProcessors and left out; readers of per-processor figures must refuse such a list,
// since a missing processor shifts every later one. Other garbled lines leave their field empty.
LAYER_VISIBLE std::optional<SystemStat> parseSystemStat(std::string_view text);

// The `meminfo` fields the layer uses, in kB.
struct Meminfo {
  std::optional<uint64_t> memTotal, memFree, memAvailable, buffers, cached;
  std::optional<uint64_t> swapTotal, swapFree, commitLimit, committedAs;
};

// nullopt for empty text and when a line of a field above is garbled or cut off (a known
// field must read "<Name>: <number> kB"); fields absent from the text stay empty.
LAYER_VISIBLE std::optional<Meminfo> parseMeminfo(std::string_view text);

}  // namespace winapi_linux::procfs
