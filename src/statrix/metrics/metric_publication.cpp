// Metric collection for replies, registry publication and reset, and the help-desk metric values.
#include "metrics/metric_publication.h"

#include "frame/log.h"
#include "metrics/perfmon_metric_manager.h"
#include "metrics/publication_names.h"

namespace {

// Writes one published value; a failed write is logged with the counter's own name.
void writeValue(const CORE::corestring& counter, uint32_t number) {
  if (CORE::corestring(number, 10).writeRegistry(publicationPath(counter), 4, false, false)) return;
  const DWORD error = GetLastError();
  LogMessage(CORE::Error, L"Failed to write Perfmon counter %s to registry - %s (%d)", counter,
             CORE::corestring::formatError(error), static_cast<int32_t>(error));
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
  for (const MetricDefinition& definition : manager.table().definitions()) writeValue(definition.strCounter, 0);
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
