// statrix_service: the "perfmon" service. Owns the session counter store, the CPU and memory
// watch and the optional pulse timer.
#pragma once
#include "frame/ref_ptr.h"
#include "service/pulse_timer.h"
#include "service/service.h"

class PerfmonScheduler;

class statrix_service : public CORE::service {
 public:
  // Seeds the counter store, starts the watch and, when the parameters ask for it, the pulse
  // timer.
  statrix_service(HMODULE moduleHandle, const CORE::PropertyBag& params);
  // Sets serviceStopping, stops the watch (waiting for a running pass) and the pulse timer.
  ~statrix_service() override;

  // Session counter store ("collect" and "update"); both take `lock` for the whole access.
  void collectCounters(CORE::PropertyBag& reply);
  void mergeCounters(const CORE::PropertyBag& request);

 private:
  void seedCounters();

  HMODULE moduleHandle;
  // Guards `counters`. Taken alone: nothing else is locked while it is held.
  CORE::corecritsec lock;
  CORE::PropertyBag counters;
  CORE::PropertyBag params;
  RefPtr<PerfmonScheduler> watch;
  RefPtr<PulseTimer> pulseTimer;
};
