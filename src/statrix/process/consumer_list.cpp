// Consumer lists: the top slots, their listing lines, the "Missing CPU use" analysis and the list broadcast.
#include "process/consumer_list.h"

#include <algorithm>
#include <vector>

#include "frame/log.h"
#include "process/format_percent.h"
#include "process/process_owner.h"
#include "process/process_report.h"
#include "process/round_percent.h"

namespace {

// The name list of listings: empty, so every process is admitted.
const CORE::corestring kAdmitAll;
constexpr float kMissingCpuGap = 10.0f;

struct Slot {
  float value;
  ProcessEntryView entry;
};

// The top `capacity` entries by figure, and the sum of every figure that does not round to 0.
std::vector<Slot> topSlots(ProcessKind kind, const ProcessSnapshot& snapshot, const ProcessTable& table,
                           size_t capacity, float& sum) {
  std::vector<Slot> slots;
  slots.reserve(capacity);
  for (const ProcessEntryView entry : snapshot) {
    const ProcessRecord* record = table.find(static_cast<uint32_t>(entry.uniqueProcessId()));
    if (record == nullptr) continue;
    const float value = kind == ProcessKind::Cpu ? record->cpuPercent : record->memPercent;
    if (roundPercent(value) == 0) continue;
    sum += value;
    if (slots.size() == capacity) {
      if (slots.back().value >= value) continue;
      slots.pop_back();  // before the insertion point is found, which may be where it stood
    }
    // Behind every slot of an equal or larger figure: the first met stays ahead.
    const auto at = std::upper_bound(slots.begin(), slots.end(), value,
                                     [](float v, const Slot& slot) { return slot.value < v; });
    slots.insert(at, Slot{value, entry});
  }
  return slots;
}

// Explains CPU use no listed process accounts for: the processes new in this pass had no share
// yet; without any, the use probably came from a process that has exited since.
void explainMissingCpu(const ProcessSnapshot* snapshot, const ProcessTable& table, float missing) {
  bool listed = false;
  if (snapshot != nullptr) {
    for (const ProcessEntryView entry : *snapshot) {
      const ProcessRecord* record = table.find(static_cast<uint32_t>(entry.uniqueProcessId()));
      if (record == nullptr || !record->isNew) continue;
      if (!listed) LogMessage(CORE::Info, L"Missing CPU use: %s%%; listing new processes", formatPercent(missing));
      listed = true;
      reportProcess(ProcessKind::Cpu, kAdmitAll, entry, 0.0f, false);
    }
  }
  if (!listed) {
    LogMessage(CORE::Info, L"Missing CPU use: %s%%; probably consumed by a process that has exited",
               formatPercent(missing));
  }
}

}  // namespace

void listConsumers(ProcessKind kind, const ProcessSnapshot* snapshot, const ProcessTable& table, float overallPercent,
                   uint32_t maxConsumers) {
  if (maxConsumers == 0) return;
  const size_t capacity = std::min(maxConsumers, kMaxConsumerSlots);

  float sum = 0.0f;
  const std::vector<Slot> slots =
      snapshot != nullptr ? topSlots(kind, *snapshot, table, capacity, sum) : std::vector<Slot>();
  for (const Slot& slot : slots) reportProcess(kind, kAdmitAll, slot.entry, slot.value, false);

  if (kind == ProcessKind::Cpu) {
    const float missing = overallPercent - sum;
    if (missing >= kMissingCpuGap) explainMissingCpu(snapshot, table, missing);
  }

  CORE::PropertyBag list;
  list.setInt(L"numConsumers", static_cast<int32_t>(slots.size()));
  list.set(L"reason", kind == ProcessKind::Cpu ? L"CPU" : L"MEMORY");
  for (size_t i = 0; i < slots.size(); ++i) {
    const auto pid = static_cast<uint32_t>(slots[i].entry.uniqueProcessId());
    const uint32_t sessionId = CORE::coreportable::getSessionId(pid);
    CORE::corestring user = processOwner(pid);
    list.setBag(CORE::corestring(i, 10), processBag(kind, slots[i].entry, sessionId, user, slots[i].value), false);
  }
  CORE::Varnel::System()->BroadcastMsg(L"PERF-ALERT", L"PROCESS-LIST", list, nullptr, nullptr, false);
}
