// The service's construction and destruction, in the order the watch and the pulse timer need.
#include "service/statrix_service.h"

#include "cpumem/perfmon_scheduler.h"
#include "metrics/metric_publication.h"
#include "service/service_globals.h"

statrix_service::statrix_service(HMODULE module, const CORE::PropertyBag& pluginParams)
    : moduleHandle(module), lock(nullptr), params(pluginParams) {
  seedCounters();

  watch.reset(new PerfmonScheduler());
  watch->start();

  const PulseTimer::Settings pulse = PulseTimer::Settings::fromParams(params);
  if (pulse.delayMs != 0) {
    pulseTimer.reset(new PulseTimer(pulse));
    pulseTimer->launch();
  }
}

statrix_service::~statrix_service() {
  serviceStopping.store(true);
  if (watch) {
    watch->stop();
    watch.reset();
  }
  if (pulseTimer) {
    pulseTimer->stop();
    pulseTimer.reset();
  }
}
