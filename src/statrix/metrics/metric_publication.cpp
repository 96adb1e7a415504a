// Metric collection for replies, registry publication and reset, and the help-desk metric values.
#include "metrics/metric_publication.h"

#include <set>

#include "frame/log.h"
#include "metrics/perfmon_metric_manager.h"
#include "metrics/publication_names.h"
#include "well_known_names.h"

namespace {

// Writes one published value; a failed write is logged with the counter's own name.
void writeValue(const CORE::corestring& counter, uint32_t number) {
  if (CORE::corestring(number, 10).writeRegistry(publicationPath(counter), 4, false, false)) return;
  const DWORD error = GetLastError();
  LogMessage(CORE::Error, L"Failed to write Perfmon counter %s to registry - %s (%d)", counter,
             CORE::corestring::formatError(error), static_cast<int32_t>(error));
}

// The concrete definition behind one reply value, for requesters that ask for it.
CORE::PropertyBag valueDetails(const MetricValue& v) {
  CORE::PropertyBag details;
  details.add(L"strMetricName", v.definition.strMetricName);
  details.add(L"strCounterObject", v.definition.strCounterObject);
  details.add(L"strCounter", v.definition.strCounter);
  details.add(L"strInstance", v.definition.strInstance);
  details.addInt64(L"value", truncateMetricValue(v.value));
  return details;
}

}  // namespace

void announceDefaultMetrics(PerfmonMetricManager& manager, CORE::PropertyBag& request) {
  CORE::coresync hold(manager.lock());
  for (const MetricDefinition& definition : manager.table().definitions()) {
    request.addBag(L"statrixMetrics", entryFromDefinition(definition), true);
  }
  request.add(L"plugin_name", L"brask_broker");
}

void collectMetricsForReply(PerfmonMetricManager& manager, CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  manager.initialiseOnce([&] {
    manager.loadDefaultMetrics();
    announceDefaultMetrics(manager, request);
    CORE::coresync hold(manager.lock());
    manager.table().applyMetricRequests(request);
    resetMetricStats(manager);
    manager.query().rebuildCounters(manager.table().definitions());
  });

  const bool details = request.getBool(well_known::kWithDetails, false);
  CORE::coresync hold(manager.lock());
  manager.query().updateCounters(manager.table().definitions());
  std::vector<MetricValue>& values = manager.latestValues();
  values.clear();
  manager.query().collectValues(values);
  for (const MetricValue& v : values) {
    const MetricDefinition& d = v.definition;
    LogMessage(CORE::Trace, L"Perf metric %s, %s, %s, %s, value %f", d.strCounterObject, d.strCounter, d.strInstance,
               d.strMetricName, v.value);
    reply.addInt64(d.strMetricName, truncateMetricValue(v.value));
    if (details) reply.addBag(well_known::kMetricValue, valueDetails(v), true);
  }
}

void publishMetricStats(PerfmonMetricManager& manager) {
  CORE::coresync hold(manager.lock());
  std::vector<MetricValue>& values = manager.latestValues();
  values.clear();
  manager.query().collectValuesTracked(values);
  for (const MetricValue& v : values) {
    const MetricDefinition& d = v.definition;
    writeValue(d.strCounter, publishedNumber(v.value));
    manager.publishedCounters().insert(d.strCounter);
    LogMessage(CORE::Trace, L"Perf disk metric %s, %s, %s, %s, value %f", d.strCounterObject, d.strCounter,
               d.strInstance, d.strMetricName, v.value);
  }
}

void addHelpdeskMetricValues(PerfmonMetricManager& manager, CORE::PropertyBag& message) {
  CORE::coresync hold(manager.lock());
  for (const MetricValue& v : manager.latestValues()) {
    if (manager.table().isHelpdeskMetric(v.definition.strMetricName)) {
      message.addInt64(v.definition.strMetricName, truncateMetricValue(v.value));
    }
  }
}

void resetMetricStats(PerfmonMetricManager& manager) {
  CORE::coresync hold(manager.lock());
  std::set<CORE::corestring>& published = manager.publishedCounters();
  for (const MetricDefinition& definition : manager.table().definitions()) {
    writeValue(definition.strCounter, 0);
    published.erase(definition.strCounter);
  }
  // What is left was published for a metric that has since left the table, or for a counter a
  // "*" definition expanded to: its last figure must not outlive the metric.
  for (const CORE::corestring& counter : published) writeValue(counter, 0);
  published.clear();
}

void collectMetricsForReply(CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  collectMetricsForReply(PerfmonMetricManager::instance(), request, reply);
}
void publishMetricStats() { publishMetricStats(PerfmonMetricManager::instance()); }
void addHelpdeskMetricValues(CORE::PropertyBag& message) {
  addHelpdeskMetricValues(PerfmonMetricManager::instance(), message);
}
void resetMetricStats() { resetMetricStats(PerfmonMetricManager::instance()); }
void configPerfmonMetrics(CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  configPerfmonMetrics(PerfmonMetricManager::instance(), request, reply);
}
