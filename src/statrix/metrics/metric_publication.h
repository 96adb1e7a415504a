// Entry points of the performance-counter metrics that the service and the watch call.
// The counter engine behind them is not built yet: collection adds nothing, publication and
// reset write nothing, configuration changes nothing.
#pragma once
#include "frame/host/host.h"

// "collectCpuAndMem": appends one 64-bit value per collected metric to the reply.
void collectMetricsForReply(CORE::PropertyBag& request, CORE::PropertyBag& reply);
// Timer pass: collects the metrics and writes their registry values.
void publishMetricStats();
// Help-desk message: appends the help-desk plug-in's metric values.
void addHelpdeskMetricValues(CORE::PropertyBag& message);
// Writes 0 to the registry value of every metric of the table.
void resetMetricStats();
// "configPerfmonMetrics": adds and removes metrics.
void configPerfmonMetrics(CORE::PropertyBag& request, CORE::PropertyBag& reply);
