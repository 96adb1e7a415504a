// The live view's own look at the machine once per pass: the process snapshot and the
// processor times through the same system query the plug-in uses, and each process's share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vhost {

struct ProcessEntry {
  uint32_t pid = 0;
  int64_t createTime = 0;  // 100 ns; with the pid it tells a reused pid from the old process
  int64_t cpuTime = 0;     // user + kernel, 100 ns
  uint64_t privateBytes = 0;  // private working set, the plug-in's memory measure
  std::string name;
};

struct MachineSample {
  std::vector<ProcessEntry> processes;  // without the idle process (pid 0), by pid
  int64_t processorTime = 0;            // all processors' kernel + user time, 100 ns
};

// Takes samples, keeping its buffer between calls.
class MachineSampler {
 public:
  // Empty when the system queries are unavailable or fail.
  std::optional<MachineSample> sample();

 private:
  std::vector<std::byte> buffer_;
};

struct ProcessShare {
  uint32_t pid = 0;
  std::string name;
  double cpuPercent = 0;     // share of all processors' time since the previous sample
  double memoryPercent = 0;  // private working set against physical memory
};

// Shares as the plug-in computes them: a process new since `previous` (or a reused pid) has no
// CPU share yet; a share never exceeds 100.
std::vector<ProcessShare> processShares(const MachineSample* previous, const MachineSample& current,
                                        uint64_t totalPhysBytes);

// "host\account" of a process's owner, or empty when it cannot be told.
std::string processUser(uint32_t pid);

}  // namespace vhost
