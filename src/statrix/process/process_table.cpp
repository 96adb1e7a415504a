// The walk over a process snapshot: record upkeep, per-process shares and session sums.
#include "process/process_table.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "process/counter_growth.h"
#include "process/process_report.h"

namespace {

float sharePercent(double part, double whole) { return static_cast<float>(part * 100.0 / whole); }

}  // namespace

void ProcessTable::updateProcesses(const ProcessSnapshot& snapshot, const WalkInputs& in,
                                   const CORE::corestring& nameList, SessionSums& sessions) {
  sessions.clear();
  seenCount_ = 0;
  seenStamp_ = in.stamp;
  // Snapshots tend to list processes in ascending pid order, as the table holds them; starting
  // each lookup at the record after the previous one then finds the record in one step.
  auto hint = records_.begin();
  for (const ProcessEntryView entry : snapshot) {
    const uint64_t processId = entry.uniqueProcessId();
    if (processId == 0) continue;  // the idle process is no process of its own
    const auto pid = static_cast<uint32_t>(processId);
    const int64_t createTime = entry.createTime();
    const uint64_t now = counterSum(entry.userTime(), entry.kernelTime());

    const size_t before = records_.size();
    const auto it = records_.try_emplace(hint, pid);
    hint = std::next(it);
    ProcessRecord& record = it->second;
    const bool inserted = records_.size() != before;
    // Counted once per record, however often a malformed snapshot repeats its pid.
    if (inserted || record.lastSeen != in.stamp) ++seenCount_;
    if (inserted || record.createTime != createTime) {
      // A new process, or a new one under a reused pid: its CPU time so far is no delta.
      record = ProcessRecord{pid, 0, createTime, now, 0.0f, 0.0f, true};
    } else {
      record.isNew = false;
    }
    record.lastSeen = in.stamp;

    int64_t delta = 0;
    if (in.systemDelta == 0) {
      record.cpuPercent = 0.0f;
    } else {
      delta = counterGrowth(now, record.cpuTime);
      if (delta > in.systemDelta) delta = in.systemDelta;
      record.cpuPercent = sharePercent(static_cast<double>(delta), static_cast<double>(in.systemDelta));
    }
    record.cpuTime = now;
    if (in.processCpu != 0 && record.cpuPercent >= static_cast<float>(in.processCpu)) {
      reportProcess(ProcessKind::Cpu, nameList, entry, record.cpuPercent, true);
    }

    record.memPercent = in.totalPhys == 0 ? 0.0f
                                          : sharePercent(static_cast<double>(entry.workingSetPrivateSize()),
                                                         static_cast<double>(in.totalPhys));
    if (in.processMem != 0 && record.memPercent >= static_cast<float>(in.processMem)) {
      reportProcess(ProcessKind::Memory, nameList, entry, record.memPercent, true);
    }

    // Session 0 holds the system's services; it is no user session.
    if (const uint32_t session = entry.sessionId(); session != 0) {
      // A count beyond 63 bits is no real size; it is held at the largest signed one.
      const uint64_t privateBytes = std::min<uint64_t>(entry.privatePageCount(), INT64_MAX);
      sessions.add(session, delta, static_cast<int64_t>(privateBytes));
    }
  }
}

void ProcessTable::purgeProcesses(uint32_t stamp) {
  if (stamp == seenStamp_ && seenCount_ == records_.size()) return;
  std::erase_if(records_, [stamp](const auto& item) { return item.second.lastSeen != stamp; });
}

const ProcessRecord* ProcessTable::find(uint32_t pid) const {
  const auto it = records_.find(pid);
  return it == records_.end() ? nullptr : &it->second;
}
