// Metric entry points while the counter engine is not built: they do nothing.
#include "metrics/metric_publication.h"

void collectMetricsForReply(CORE::PropertyBag&, CORE::PropertyBag&) {}
void publishMetricStats() {}
void addHelpdeskMetricValues(CORE::PropertyBag&) {}
void resetMetricStats() {}
void configPerfmonMetrics(CORE::PropertyBag&, CORE::PropertyBag&) {}
