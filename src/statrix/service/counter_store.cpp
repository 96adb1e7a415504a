// The session counter store: sixteen seeded names, copied out whole by "collect" and upserted
// by "update", always under the service's lock.
#include "service/statrix_service.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

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
  if (update.size() == 0) return;
  // Names match exactly, case included: the bag's own lookup ignores case, and its `set` would
  // give "DesktopSessions" the spelling of an update naming "desktopsessions". So the store is
  // rebuilt with exact matching: known names keep their place, new ones are appended.
  std::vector<std::pair<CORE::corestring, CORE::corestring>> entries;
  std::map<std::wstring, size_t> index;
  for (size_t i = 0; i < counters.size(); ++i) {
    index.emplace(counters.getName(i).str(), entries.size());
    entries.emplace_back(counters.getName(i), counters.stringAt(i));
  }
  for (size_t i = 0; i < update.size(); ++i) {
    CORE::corestring name = update.getName(i);
    // The entry's own value: a lookup by name would find the first entry of any spelling.
    CORE::corestring value = update.typeAt(i) == CORE::PropertyBag::Type::Bag ? CORE::corestring(L"0")
                                                                              : update.stringAt(i);
    auto [it, added] = index.emplace(name.str(), entries.size());
    if (added) entries.emplace_back(std::move(name), std::move(value));
    else entries[it->second].second = std::move(value);
  }
  counters.clear();
  for (const auto& [name, value] : entries) counters.add(name, value);
}
