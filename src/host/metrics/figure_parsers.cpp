// Figures out of reply bags, broadcasts and help-desk messages.
#include "metrics/figure_parsers.h"

#include <charconv>
#include <set>
#include <tuple>

namespace vhost {

namespace {

using CORE::corestring;

bool isOneOf(const corestring& name, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* n : names)
    if (name.comparei(n) == 0) return true;
  return false;
}

// Walks every nested bag named `name`, in order.
template <class Fn>
void eachBag(const CORE::PropertyBag& bag, const wchar_t* name, Fn fn) {
  CORE::PropertyBag entry;
  for (size_t pos = bag.getNextBag(name, entry, 0); pos != 0; pos = bag.getNextBag(name, entry, pos)) fn(entry);
}

std::optional<double> number(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

void learnDefinitions(const CORE::PropertyBag& request, DefinitionMap& definitions) {
  eachBag(request, L"statrixMetrics", [&](const CORE::PropertyBag& entry) {
    if (!entry.getBool(L"isAdd")) return;
    std::string metric = entry.get(L"strMetricName").utf8();
    if (metric.empty()) return;
    definitions[metric] = {entry.get(L"strCounterObject").utf8(), entry.get(L"strCounter").utf8(),
                           entry.get(L"strInstance").utf8()};
  });
}

void readCpuMemReply(const CORE::PropertyBag& reply, const DefinitionMap& definitions, RoundFigures& figures) {
  figures.cpuMemAnswered = true;
  figures.cpuPercent = reply.getInt64(L"CPU");
  figures.memoryLoadPercent = reply.getInt64(L"MEM");
  constexpr uint64_t kUnit = 1000000;
  if (!figures.totalBytes && reply.has(L"TOTAL_MEMORY"))
    figures.totalBytes = static_cast<uint64_t>(reply.getInt64(L"TOTAL_MEMORY")) * kUnit;
  if (!figures.availableBytes && reply.has(L"FREE_MEMORY"))
    figures.availableBytes = static_cast<uint64_t>(reply.getInt64(L"FREE_MEMORY")) * kUnit;

  std::set<std::tuple<std::string, std::string, std::string, std::string>> seen;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (reply.typeAt(i) != CORE::PropertyBag::Type::Int64) continue;
    corestring name = reply.getName(i);
    if (isOneOf(name, {L"CPU", L"MEM", L"TOTAL_MEMORY", L"FREE_MEMORY"})) continue;
    MetricSample sample;
    sample.metric = name.utf8();
    if (auto it = definitions.find(sample.metric); it != definitions.end()) sample.definition = it->second;
    const MetricDefinition& d = sample.definition;
    if (!seen.emplace(sample.metric, d.object, d.counter, d.instance).second) continue;
    sample.value = static_cast<double>(reply.intAt(i));
    figures.metrics.push_back(std::move(sample));
  }
}

void readCountersReply(const CORE::PropertyBag& reply, RoundFigures& figures) {
  figures.countersAnswered = true;
  CORE::PropertyBag store = reply.getBag(L"globalCounters");
  std::set<std::string> seen;
  for (size_t i = 0; i < store.size(); ++i) {
    if (store.typeAt(i) == CORE::PropertyBag::Type::Bag) continue;
    std::string name = store.getName(i).utf8();
    std::optional<double> value = number(store.stringAt(i).utf8());
    if (!value || !seen.insert(name).second) continue;
    figures.counters.emplace_back(std::move(name), *value);
  }
}

std::optional<AlarmKind> alarmOf(const std::string& name1, const std::string& name2, const CORE::PropertyBag& bag) {
  if (name1 != "PERF-ALERT") return std::nullopt;
  if (name2 == "CPU-ALARM") return AlarmKind::Cpu;
  if (name2 == "MEMORY-ALARM") return AlarmKind::Memory;
  if (name2 == "PROCESS-ALARM") {
    if (bag.has(L"CPU_PERCENTAGE")) return AlarmKind::ProcessCpu;
    if (bag.has(L"MEMORY_PERCENTAGE")) return AlarmKind::ProcessMemory;
  }
  return std::nullopt;
}

bool readHelpdeskSessions(const CORE::PropertyBag& message, std::map<uint32_t, int64_t>& cpu,
                          std::map<uint32_t, int64_t>& memory) {
  if (message.get(L"opcode") != corestring(L"NewDataFromStatrix")) return false;
  cpu.clear();
  memory.clear();
  eachBag(message, L"sessionCpuMetric", [&](const CORE::PropertyBag& entry) {
    if (entry.has(L"sessionId") && entry.has(L"cpu"))
      cpu[static_cast<uint32_t>(entry.getInt64(L"sessionId"))] = entry.getInt64(L"cpu");
  });
  eachBag(message, L"sessionMemMetric", [&](const CORE::PropertyBag& entry) {
    if (entry.has(L"sessionId") && entry.has(L"mem"))
      memory[static_cast<uint32_t>(entry.getInt64(L"sessionId"))] = entry.getInt64(L"mem");
  });
  return true;
}

}  // namespace vhost
