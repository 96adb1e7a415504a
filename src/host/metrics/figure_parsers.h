// Reading figures out of the bags the plug-in hands to its host: reply bags, broadcasts and
// help-desk messages. Pure functions over bags.
#pragma once
#include <map>
#include <optional>
#include <string>

#include "metrics/host_figures.h"
#include "varnel/propertybag.h"

namespace vhost {

// Counter-metric definitions by metric name.
using DefinitionMap = std::map<std::string, MetricDefinition>;

// The "statrixMetrics" entries that add a metric, as carried by a "configPerfmonMetrics"
// request or announced into the first "collectCpuAndMem" request; later entries of a name win.
void learnDefinitions(const CORE::PropertyBag& request, DefinitionMap& definitions);

// A "collectCpuAndMem" reply: "CPU", "MEM", the memory sizes (units of 1000000 bytes, used
// only when `figures` has no exact byte counts yet) and every other 64-bit entry as a counter
// metric. A metric whose name and definition repeat is kept once, first value.
void readCpuMemReply(const CORE::PropertyBag& reply, const DefinitionMap& definitions, RoundFigures& figures);

// A "collect" reply: the "globalCounters" entries whose text is a number.
void readCountersReply(const CORE::PropertyBag& reply, RoundFigures& figures);

// The alarm a broadcast reports: "PERF-ALERT" with "CPU-ALARM", "MEMORY-ALARM", or
// "PROCESS-ALARM" with a "CPU_PERCENTAGE" or "MEMORY_PERCENTAGE" entry. Anything else: none.
std::optional<AlarmKind> alarmOf(const std::string& name1, const std::string& name2, const CORE::PropertyBag& bag);

// A help-desk message with "opcode" "NewDataFromStatrix": its "sessionCpuMetric" and
// "sessionMemMetric" bags ("sessionId" with "cpu" or "mem"). False for other messages.
bool readHelpdeskSessions(const CORE::PropertyBag& message, std::map<uint32_t, int64_t>& cpu,
                          std::map<uint32_t, int64_t>& memory);

}  // namespace vhost
