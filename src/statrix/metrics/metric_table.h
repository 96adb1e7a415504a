// The metric table and the help-desk plug-in's names, changed by add and remove requests.
#pragma once
#include <set>
#include <vector>

#include "metrics/metric_definition.h"

// The plug-in whose metrics also travel in the help-desk message.
inline constexpr const wchar_t* kHelpdeskPluginName = L"brask_helpdesk";

// A definition read from one "statrixMetrics" entry; missing keys take the record's defaults.
// "dwType" and "dwScale" are read as signed 32-bit numbers and kept as their 32 bits.
MetricDefinition definitionFromEntry(const CORE::PropertyBag& entry);

// The bag form of a definition as announced in a request: the seven fields, then "isAdd" true.
CORE::PropertyBag entryFromDefinition(const MetricDefinition& definition);

// Not thread-safe: the metric manager's lock guards every use.
class MetricTable {
 public:
  // Every "statrixMetrics" entry of the request in order: "isAdd" true adds, anything else
  // removes, under the request's "plugin_name".
  void applyMetricRequests(const CORE::PropertyBag& request);
  // An ordinary plug-in's add appends one entry; the help-desk plug-in holds at most one entry
  // per metric name.
  void addMetric(const CORE::PropertyBag& request, const CORE::PropertyBag& entry);
  // Takes out the first entry of the metric name, whoever added it; the help-desk plug-in only
  // removes names it added.
  void removeMetric(const CORE::PropertyBag& request, const CORE::PropertyBag& entry);

  // The table becomes `definitions`. Every entry the help-desk plug-in added is gone with it,
  // so are its names: a later add of such a name is a fresh add, a later remove removes nothing.
  void replace(std::vector<MetricDefinition> definitions) {
    metricTable_ = std::move(definitions);
    helpdeskMetricNames_.clear();
  }
  const std::vector<MetricDefinition>& definitions() const { return metricTable_; }
  bool isHelpdeskMetric(const CORE::corestring& name) const { return helpdeskMetricNames_.count(name) != 0; }
  const std::set<CORE::corestring>& helpdeskMetricNames() const { return helpdeskMetricNames_; }

 private:
  std::vector<MetricDefinition> metricTable_;          // insertion order; repeats allowed
  std::set<CORE::corestring> helpdeskMetricNames_;     // ordinal order
};
