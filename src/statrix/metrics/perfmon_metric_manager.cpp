// The process-wide metric manager and the loading of the default metrics.
#include "metrics/perfmon_metric_manager.h"

PerfmonMetricManager& PerfmonMetricManager::instance() {
  static PerfmonMetricManager manager;
  return manager;
}

void PerfmonMetricManager::loadDefaultMetrics() {
  CORE::coresync hold(lock_);
  table_.replace(defaultMetrics());
}
