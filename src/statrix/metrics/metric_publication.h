// The roads out of the metric engine: the "collectCpuAndMem" reply, the registry, the help-desk message.
#pragma once
#include "frame/host/host.h"

class PerfmonMetricManager;

// "collectCpuAndMem": on the first request of the process the defaults are loaded, announced
// into the request under "brask_broker" and applied; then every request collects afresh and
// appends one 64-bit value per metric (keyed by metric name) to the reply, each followed by its
// details when the request asks for them (well_known::kWithDetails).
void collectMetricsForReply(CORE::PropertyBag& request, CORE::PropertyBag& reply);
// Timer pass: collects with the two-strike rule and writes each value under "Performance Stats".
void publishMetricStats();
// Help-desk message: appends the help-desk plug-in's metrics from the latest collection.
void addHelpdeskMetricValues(CORE::PropertyBag& message);
// Writes 0 to the registry value of every metric of the table and to every value published
// since the last reset (metrics that left the table, counters expanded from "*").
void resetMetricStats();
// "configPerfmonMetrics": applies the adds and removes, resets the published values and rebuilds
// the counters. The reply is left as it is.
void configPerfmonMetrics(CORE::PropertyBag& request, CORE::PropertyBag& reply);

// The same operations on a given manager (the ones above use PerfmonMetricManager::instance()).
void collectMetricsForReply(PerfmonMetricManager& manager, CORE::PropertyBag& request, CORE::PropertyBag& reply);
void publishMetricStats(PerfmonMetricManager& manager);
void addHelpdeskMetricValues(PerfmonMetricManager& manager, CORE::PropertyBag& message);
void resetMetricStats(PerfmonMetricManager& manager);
void configPerfmonMetrics(PerfmonMetricManager& manager, CORE::PropertyBag& request, CORE::PropertyBag& reply);
// Appends one "statrixMetrics" add entry per definition of the table, then "plugin_name"
// "brask_broker".
void announceDefaultMetrics(PerfmonMetricManager& manager, CORE::PropertyBag& request);
