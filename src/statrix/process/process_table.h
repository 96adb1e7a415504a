// The process table: one record per process instance, with its CPU and memory shares, updated each pass.
#pragma once
#include <cstdint>
#include <map>

#include "frame/host/host.h"
#include "process/process_snapshot.h"
#include "process/session_sums.h"

struct ProcessRecord {
  uint32_t pid = 0;
  uint32_t lastSeen = 0;     // stamp of the last pass that saw the process
  int64_t createTime = 0;    // tells a reused pid from the process it belonged to
  uint64_t cpuTime = 0;      // user + kernel time at the last pass, 100 ns, modulo 2^64
  float cpuPercent = 0.0f;   // share of all processors' time since the previous pass
  float memPercent = 0.0f;   // private working set as a share of physical memory
  bool isNew = false;        // created by the current pass
};

// What one walk takes from its pass.
struct WalkInputs {
  uint32_t stamp = 0;        // the pass's tick count
  int64_t systemDelta = 0;   // growth of all processors' time over the pass interval, 100 ns
  uint64_t totalPhys = 0;    // physical memory, bytes
  uint32_t processCpu = 0;   // per-process CPU alarm threshold in percent, 0 = off
  uint32_t processMem = 0;   // per-process memory alarm threshold in percent, 0 = off
};

class ProcessTable {
 public:
  // Walks the snapshot: refreshes or creates the record of every process but the idle one,
  // raises process alarms, and refills `sessions` (session 0 is left out). Records of known
  // processes are reused, so a steady walk allocates nothing.
  void updateProcesses(const ProcessSnapshot& snapshot, const WalkInputs& in, const CORE::corestring& nameList,
                       SessionSums& sessions);
  // Drops every record the pass with `stamp` did not see.
  void purgeProcesses(uint32_t stamp);
  // Drops every record.
  void resetProcesses() {
    records_.clear();
    seenCount_ = 0;
  }

  const ProcessRecord* find(uint32_t pid) const;
  size_t size() const { return records_.size(); }

 private:
  std::map<uint32_t, ProcessRecord> records_;  // by pid, ascending
  // Records the last walk stamped and that walk's stamp: when the walk saw every record, the
  // purge has nothing to look for.
  size_t seenCount_ = 0;
  uint32_t seenStamp_ = 0;
};
