// Dispatch of the "perfmon" operations: case-insensitive whole-name match, authorisation of
// "update", and error 120 for everything else.
#include "service/statrix_operation.h"

#include <new>

#include "cpumem/watch_state.h"
#include "frame/log.h"
#include "metrics/metric_publication.h"
#include "service/service_slot.h"
#include "well_known_names.h"

namespace CORE {

serviceOperation::~serviceOperation() = default;

bool serviceOperation::preHandler(const corestring&, PropertyBag&, PropertyBag&) { return true; }

void serviceOperation::postHandler() {}

}  // namespace CORE

namespace {

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kNotImplemented = 120;

}  // namespace

statrix_operation::statrix_operation(statrix_service* referenced) : service(referenced) {}

statrix_operation::~statrix_operation() = default;  // the last handler's release may destroy the service

bool statrix_operation::MessageHandler(const CORE::corestring& op, CORE::PropertyBag& request,
                                       CORE::PropertyBag& reply) {
  using Row = bool (statrix_operation::*)(CORE::PropertyBag&, CORE::PropertyBag&);
  static constexpr struct {
    const wchar_t* name;
    Row run;
  } kTable[] = {
      {L"collect", &statrix_operation::collect},
      {L"collectCpuAndMem", &statrix_operation::collectCpuAndMem},
      {L"update", &statrix_operation::update},
      {L"configPerfmonMetrics", &statrix_operation::configMetrics},
  };

  if (!preHandler(op, request, reply)) return false;
  bool result = false;
  bool served = false;
  for (const auto& row : kTable) {
    if (op.comparei(row.name) == 0) {
      result = (this->*row.run)(request, reply);
      served = true;
      break;
    }
  }
  if (!served) {
    LogMessage(CORE::Trace, L"Service operation: %s NOT IMPLEMENTED", op);
    reply.setError(kNotImplemented);
  }
  postHandler();
  return result;
}

bool statrix_operation::collect(CORE::PropertyBag&, CORE::PropertyBag& reply) {
  service->collectCounters(reply);
  return true;
}

bool statrix_operation::collectCpuAndMem(CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  // The watch's figures are read first, without a lock; the metric collection must not be
  // able to override them.
  const WatchState& state = WatchState::instance();
  const bool cpuMeasured = state.cpuMeasured();
  const bool memMeasured = state.memMeasured();
  const int64_t cpu = state.getCpu();
  const int64_t mem = state.getMem();
  const int64_t totalMemory = state.getTotalMemory();
  const int64_t freeMemory = state.getFreeMemory();
  collectMetricsForReply(request, reply);
  reply.setInt64(L"CPU", cpu);
  reply.setInt64(L"MEM", mem);
  reply.setInt64(L"TOTAL_MEMORY", totalMemory);
  reply.setInt64(L"FREE_MEMORY", freeMemory);
  // A requester that asks for details learns whether "CPU" and "MEM" are measurements yet.
  if (request.getBool(well_known::kWithDetails, false)) {
    reply.setBool(well_known::kCpuMeasured, cpuMeasured);
    reply.setBool(well_known::kMemMeasured, memMeasured);
  }
  return true;
}

bool statrix_operation::update(CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  // When impersonation fails the thread keeps the service's own identity, an administrator:
  // asking isAdmin then would let any requester through.
  const bool impersonated = Impersonate();
  const bool admin = impersonated && CORE::coreportable::isAdmin(nullptr);
  RevertToSelf();
  if (!admin) {
    reply.setError(kAccessDenied, L"NotAuthorized");
    return false;
  }
  service->mergeCounters(request);
  return true;
}

bool statrix_operation::configMetrics(CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  configPerfmonMetrics(request, reply);
  return true;
}

CORE::WorkItem* createOperation() {
  RefPtr<statrix_service> service(acquireService());
  if (!service) return nullptr;
  try {
    return new statrix_operation(service.release());
  } catch (const std::bad_alloc&) {
    return nullptr;  // `service` was given up only on success
  }
}
