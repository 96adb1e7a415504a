// Wildcard expansion from the object's current counter and instance lists (PdhEnumObjectItemsW).
#include "metrics/counter_expansion.h"

#include "frame/log.h"
#include "metrics/counter_names.h"
#include "metrics/counter_query.h"

namespace {

// Lists beyond this many characters are not believed (a machine with every process as an
// instance stays far below it).
constexpr DWORD kMaxListLength = 16u << 20;

}  // namespace

std::vector<MetricDefinition> expandDefinition(const MetricDefinition& definition,
                                               const std::vector<CORE::corestring>& counters,
                                               const std::vector<CORE::corestring>& instances) {
  std::vector<MetricDefinition> out;
  for (const CORE::corestring& counter : counters) {
    if (definition.strCounter != L"*" && definition.strCounter != counter) continue;
    for (const CORE::corestring& instance : instances) {
      if (definition.strInstance != L"*" && definition.strInstance != instance) continue;
      MetricDefinition concrete;
      concrete.strCounterObject = definition.strCounterObject;
      concrete.strCounter = counter;
      concrete.strInstance = instance;
      concrete.strMetricName = definition.strMetricName.empty()
                                   ? derivedMetricName(definition.strCounterObject, counter, instance)
                                   : definition.strMetricName;
      concrete.bSessionRelated = definition.bSessionRelated;
      concrete.dwType = definition.dwType;
      concrete.dwScale = 1;
      out.push_back(std::move(concrete));
    }
  }
  return out;
}

void CounterQuery::extendCounter(const MetricDefinition& definition) {
  const CORE::corestring& object = definition.strCounterObject;
  DWORD counterLength = 0;
  DWORD instanceLength = 0;
  PDH_STATUS status = pdh_->enumObjectItems(nullptr, nullptr, object.c_str(), nullptr, &counterLength, nullptr,
                                            &instanceLength, PERF_DETAIL_WIZARD, 0);
  if (isStatus(status, PDH_MORE_DATA) && (counterLength > kMaxListLength || instanceLength > kMaxListLength)) {
    status = static_cast<PDH_STATUS>(PDH_INSUFFICIENT_BUFFER);
  }
  if (!isStatus(status, PDH_MORE_DATA)) {
    LogMessage(CORE::Warn, L"Failed to list counters for object %s, error: 0x%x", object, static_cast<uint32_t>(status));
    LogMessage(CORE::Warn, L"Failed to extend counter: %s", object);
    return;
  }
  // A spare character after each list keeps it terminated whatever the second call writes, and
  // the lengths it reports back are not trusted beyond the buffers.
  std::vector<wchar_t> counterBuffer(static_cast<size_t>(counterLength) + 1, L'\0');
  std::vector<wchar_t> instanceBuffer(static_cast<size_t>(instanceLength) + 1, L'\0');
  DWORD counterCapacity = counterLength;
  DWORD instanceCapacity = instanceLength;
  status = pdh_->enumObjectItems(nullptr, nullptr, object.c_str(), counterBuffer.data(), &counterCapacity,
                                 instanceBuffer.data(), &instanceCapacity, PERF_DETAIL_WIZARD, 0);
  if (status != 0) {
    LogMessage(CORE::Warn, L"Failed to list counters for object %s, error: 0x%x", object, static_cast<uint32_t>(status));
    LogMessage(CORE::Warn, L"Failed to extend counter: %s", object);
    return;
  }
  const auto counters = parseMultiString(counterBuffer.data(), counterBuffer.size());
  const auto instances = parseMultiString(instanceBuffer.data(), instanceBuffer.size());
  for (const MetricDefinition& concrete : expandDefinition(definition, counters, instances)) addCounter(concrete);
}
