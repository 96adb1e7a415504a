// The session counter store: sixteen seeded names, copied out whole by "collect" and upserted
// by "update", always under the service's lock.
#include "service/statrix_service.h"

namespace {

constexpr const wchar_t* kSeededNames =
    L"AllSessions,AllSessionsHigh,ZentSessions,ZentSessionsHigh,FullVmSessions,FullVmSessionsHigh,"
    L"UnmanagedSessions,UnmanagedSessionsHigh,Secure Gateway Sessions,Secure Gateway Sessions High,"
    L"Dravex Gateway Sessions,Dravex Gateway Sessions High,DesktopSessions,DesktopSessionsHigh,"
    L"ApplicationSessions,ApplicationSessionsHigh";

}  // namespace

void statrix_service::seedCounters() {
  // No trimming: names keep their inner spaces.
  for (const CORE::corestring& name : CORE::corestring(kSeededNames).split(L',', false)) counters.set(name, L"0");
}

void statrix_service::collectCounters(CORE::PropertyBag& reply) {
  CORE::coresync sync(lock, false);
  reply.setBag(L"globalCounters", counters, true);
}

void statrix_service::mergeCounters(const CORE::PropertyBag& request) {
  const CORE::PropertyBag update = request.getBag(L"globalCounters");
  // One update is applied whole: a concurrent "collect" sees all of it or none.
  CORE::coresync sync(lock, false);
  for (size_t i = 0; i < update.size(); ++i) {
    const CORE::corestring name = update.getName(i);
    counters.set(name, update.get(name, L"0"));
  }
}
