// Add and remove requests on the metric table, with the help-desk plug-in's name set.
#include "metrics/metric_table.h"

#include <algorithm>

#include "frame/log.h"

MetricDefinition definitionFromEntry(const CORE::PropertyBag& entry) {
  MetricDefinition d;
  d.strMetricName = entry.get(L"strMetricName");
  d.strCounterObject = entry.get(L"strCounterObject");
  d.strCounter = entry.get(L"strCounter");
  d.strInstance = entry.get(L"strInstance");
  d.bSessionRelated = entry.getBool(L"bSessionRelated", false);
  d.dwType = static_cast<uint32_t>(entry.getInt(L"dwType", 0));
  d.dwScale = static_cast<uint32_t>(entry.getInt(L"dwScale", 1));
  return d;
}

CORE::PropertyBag entryFromDefinition(const MetricDefinition& d) {
  CORE::PropertyBag entry;
  entry.add(L"strCounterObject", d.strCounterObject);
  entry.add(L"strCounter", d.strCounter);
  entry.add(L"strInstance", d.strInstance);
  entry.add(L"strMetricName", d.strMetricName);
  entry.addBool(L"bSessionRelated", d.bSessionRelated);
  entry.addInt(L"dwType", static_cast<int32_t>(d.dwType));
  entry.addInt(L"dwScale", static_cast<int32_t>(d.dwScale));
  entry.addBool(L"isAdd", true);
  return entry;
}

void MetricTable::applyMetricRequests(const CORE::PropertyBag& request) {
  CORE::PropertyBag entry;
  for (size_t pos = request.getNextBag(L"statrixMetrics", entry, 0); pos != 0;
       pos = request.getNextBag(L"statrixMetrics", entry, pos)) {
    if (entry.getBool(L"isAdd", false)) {
      addMetric(request, entry);
    } else {
      removeMetric(request, entry);
    }
  }
}

void MetricTable::addMetric(const CORE::PropertyBag& request, const CORE::PropertyBag& entry) {
  const CORE::corestring name = entry.get(L"strMetricName");
  const CORE::corestring plugin = request.get(L"plugin_name");
  LogMessage(CORE::Debug, L"addMetric, metric name %s, plugin name %s", name, plugin);
  const bool helpdesk = plugin == kHelpdeskPluginName;
  if (helpdesk && isHelpdeskMetric(name)) return;
  MetricDefinition definition = definitionFromEntry(entry);
  if (helpdesk) helpdeskMetricNames_.insert(name);
  metricTable_.push_back(std::move(definition));
}

void MetricTable::removeMetric(const CORE::PropertyBag& request, const CORE::PropertyBag& entry) {
  const CORE::corestring name = entry.get(L"strMetricName");
  const CORE::corestring plugin = request.get(L"plugin_name");
  LogMessage(CORE::Debug, L"removeMetric, metric name %s, plugin name %s", name, plugin);
  if (plugin == kHelpdeskPluginName) {
    if (helpdeskMetricNames_.erase(name) == 0) return;
  }
  const auto it = std::find_if(metricTable_.begin(), metricTable_.end(),
                               [&](const MetricDefinition& d) { return d.strMetricName == name; });
  if (it != metricTable_.end()) metricTable_.erase(it);
}
