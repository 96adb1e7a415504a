// The "configPerfmonMetrics" operation: adds and removes, then reset and rebuild, under one lock.
#include "metrics/metric_publication.h"
#include "metrics/perfmon_metric_manager.h"

void configPerfmonMetrics(PerfmonMetricManager& manager, CORE::PropertyBag& request, CORE::PropertyBag&) {
  CORE::coresync hold(manager.lock());
  manager.table().applyMetricRequests(request);
  resetMetricStats(manager);
  manager.query().rebuildCounters(manager.table().definitions());
}
