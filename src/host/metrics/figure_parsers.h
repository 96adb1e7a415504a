// Reading figures out of the bags the plug-in hands to its host: reply bags, broadcasts and
// help-desk messages. Pure functions over bags.
#pragma once
#include <map>
#include <optional>
#include <string>

#include "metrics/host_figures.h"
#include "varnel/propertybag.h"

namespace vhost {

// A "collectCpuAndMem" reply to a request that asked for details (well_known::kWithDetails):
// "CPU" and "MEM" where the reply marks them measured, the memory sizes (units of 1000000 bytes,
// used only when `figures` has no exact byte counts yet) and one sample per details bag, labelled
// with the concrete definition the plug-in read it for. A label set that repeats (a definition
// standing twice) is kept once, first value.
void readCpuMemReply(const CORE::PropertyBag& reply, RoundFigures& figures);

// A "collect" reply: the "globalCounters" entries whose text is a finite number, at most
// kMaxStoredValues of them and each name once, names longer than kMaxStoredNameBytes left out.
void readCountersReply(const CORE::PropertyBag& reply, RoundFigures& figures);

// The alarm a broadcast reports: "PERF-ALERT" with "CPU-ALARM", "MEMORY-ALARM", or
// "PROCESS-ALARM" with a "CPU_PERCENTAGE" or "MEMORY_PERCENTAGE" entry. Anything else: none.
std::optional<AlarmKind> alarmOf(const std::string& name1, const std::string& name2, const CORE::PropertyBag& bag);

// A help-desk message with "opcode" "NewDataFromStatrix": its "sessionCpuMetric" and
// "sessionMemMetric" bags ("sessionId" with "cpu" or "mem"). False for other messages.
bool readHelpdeskSessions(const CORE::PropertyBag& message, std::map<uint32_t, int64_t>& cpu,
                          std::map<uint32_t, int64_t>& memory);

}  // namespace vhost
