// The help-desk message: overall figures, help-desk metrics and session figures in one bag.
#include "cpumem/helpdesk_message.h"

#include "cpumem/watch_state.h"
#include "frame/log.h"
#include "metrics/metric_publication.h"
#include "process/session_metrics.h"
#include "well_known_names.h"

namespace {
using well_known::kHelpdeskWorker;
constexpr unsigned long kNoTimeout = 0xFFFFFFFFul;
}  // namespace

void publishHelpdeskMessage(CORE::corecritsec& settingsLock) {
  CORE::Varnel* system = CORE::Varnel::System();
  if (!system->IsWorkerInstalled(kHelpdeskWorker, 0)) return;

  CORE::PropertyBag message;
  CORE::PropertyBag reply;
  message.add(L"opcode", L"NewDataFromStatrix");
  {
    CORE::coresync hold(settingsLock);
    WatchState& watch = WatchState::instance();
    message.setInt64(L"overall_cpu", watch.getCpu());
    message.setInt64(L"overall_mem", watch.getMem());
    addHelpdeskMetricValues(message);
    // The session sums of the last walk, each read under the watch state's lock (taken inside
    // settingsLock, the fixed order).
    {
      CORE::coresync sums(watch.lock());
      addSessionCpuMetrics(message, watch.sessionSums(), watch.systemDelta());
    }
    {
      CORE::coresync sums(watch.lock());
      addSessionMemMetrics(message, watch.sessionSums(), watch.totalPhys());
    }
  }
  if (system->SendMsg(kHelpdeskWorker, L"HelpdeskOperation", message, reply, nullptr, nullptr, nullptr, kNoTimeout,
                      nullptr, nullptr, true, false) != 0) {
    LogMessage(CORE::Error, L"cannot send message to helpdesk queue");
  }
}
