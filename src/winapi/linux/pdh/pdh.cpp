// The PDH query functions over the counter catalog: open, add, collect, read, remove, close.

#include "advapi32/registry_names.h"
#include "common/wide_text.h"
#include "pdh/counter_path.h"
#include "pdh/pdh_query.h"
#include "pdh/pdh_support.h"
#include "pdh/perf_names.h"
#include "pdh/perf_sources.h"

namespace winapi_linux::pdh {

namespace {

// The counter type PDH reports for a formula.
DWORD counterType(const perf::CounterDef& c) {
  switch (c.formula) {
    case perf::Formula::Instant: return c.field == perf::Field::SystemUpTime ? 0x30240500u : 0x00010100u;
    case perf::Formula::Rate: return 0x10410500u;           // bulk count
    case perf::Formula::TickShare:
    case perf::Formula::BusyPercent: return 0x20510500u;    // 100 ns timer
    case perf::Formula::IdlePercent: return 0x21510500u;    // inverse 100 ns timer
    case perf::Formula::AveragePerOp: return 0x30020400u;   // average timer
  }
  return 0;
}

PDH_STATUS addCounter(PDH_HQUERY query, LPCWSTR fullPath, PDH_HCOUNTER* counter) {
  if (!fullPath || !counter) return PDH_INVALID_ARGUMENT;
  auto queryObject = lookupHandleAs<QueryObject>(query);
  if (!queryObject) return PDH_INVALID_HANDLE;
  auto path = perf::parseCounterPath(fullPath);
  // Wildcard paths serve only array reads, which this layer does not offer.
  if (!path || path->wildcard()) return PDH_CSTATUS_BAD_COUNTERNAME;
  if (!isLocalMachine(path->machine)) return PDH_CSTATUS_NO_MACHINE;
  const std::shared_ptr<const perf::NameTable> table = perf::localNames();
  const perf::NameTable& names = *table;
  const perf::ObjectDef* object = names.findObject(path->object);
  if (!object) return PDH_CSTATUS_NO_OBJECT;
  const perf::CounterDef* counterDef = names.findCounter(*object, path->counter);
  if (!counterDef) return PDH_CSTATUS_NO_COUNTER;
  if (object->hasInstances != path->hasInstance) return PDH_CSTATUS_BAD_COUNTERNAME;

  CounterState state;
  state.object = object;
  state.counter = counterDef;
  state.instance = path->instance;
  state.unmatched = !path->parent.empty() || path->index != 0;
  auto counterObject = std::make_shared<CounterObject>(queryObject, std::move(state));

  std::lock_guard lock(queryObject->mutex);
  if (queryObject->closed) return PDH_INVALID_HANDLE;
  HANDLE handle = insertHandle(counterObject);
  if (!handle) return PDH_MEMORY_ALLOCATION_FAILURE;
  queryObject->counters.emplace_back(handle, std::move(counterObject));
  *counter = handle;
  return ERROR_SUCCESS;
}

void collectCounter(CounterState& c, const perf::Snapshot& snapshot, uint64_t now) {
  c.previous = c.current;
  c.current.reset();
  c.collected = true;
  c.readSinceCollect = false;
  if (c.unmatched) {
    c.currentStatus = PDH_CSTATUS_NO_INSTANCE;
    return;
  }
  DWORD status = PDH_CSTATUS_INVALID_DATA;
  c.current = perf::extractSample(c.counter->field, snapshot, c.instance, status);
  c.currentStatus = status;
  if (c.current) c.current->timeNs = now;
}

PDH_STATUS collect(PDH_HQUERY query) {
  auto queryObject = lookupHandleAs<QueryObject>(query);
  if (!queryObject) return PDH_INVALID_HANDLE;
  std::lock_guard lock(queryObject->mutex);
  if (queryObject->closed) return PDH_INVALID_HANDLE;
  if (queryObject->counters.empty()) return PDH_NO_DATA;
  uint32_t sources = 0;
  for (const auto& [handle, c] : queryObject->counters) sources |= perf::sourceOf(c->state.counter->field);
  const perf::Snapshot snapshot = perf::readSnapshot(sources);
  const uint64_t now = collectionTime();
  for (auto& [handle, c] : queryObject->counters) collectCounter(c->state, snapshot, now);
  return ERROR_SUCCESS;
}

PDH_STATUS formattedValue(PDH_HCOUNTER counter, DWORD format, LPDWORD type, PPDH_FMT_COUNTERVALUE value) {
  if (!value) return PDH_INVALID_ARGUMENT;
  const DWORD kinds = format & (PDH_FMT_LONG | PDH_FMT_DOUBLE | PDH_FMT_LARGE);
  if (kinds != PDH_FMT_LONG && kinds != PDH_FMT_DOUBLE && kinds != PDH_FMT_LARGE) return PDH_INVALID_ARGUMENT;
  auto counterObject = lookupHandleAs<CounterObject>(counter);
  auto queryObject = counterObject ? counterObject->query.lock() : nullptr;
  if (!queryObject) return PDH_INVALID_HANDLE;
  std::lock_guard lock(queryObject->mutex);
  if (queryObject->closed) return PDH_INVALID_HANDLE;
  CounterState& c = counterObject->state;
  if (type) *type = counterType(*c.counter);
  value->largeValue = 0;
  if (!c.collected || !c.current) {
    value->CStatus = c.collected ? c.currentStatus : static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
    return PDH_INVALID_DATA;
  }
  perf::Computed computed = perf::computeValue(*c.counter, c.previous, *c.current);
  if (computed.status != PDH_CSTATUS_VALID_DATA) {
    value->CStatus = computed.status;
    return PDH_INVALID_DATA;
  }
  double v = computed.value;
  if (c.counter->percent && !(format & PDH_FMT_NOCAP100) && v > 100) v = 100;
  if (format & PDH_FMT_1000) v *= 1000;
  value->CStatus = c.readSinceCollect ? PDH_CSTATUS_VALID_DATA : PDH_CSTATUS_NEW_DATA;
  c.readSinceCollect = true;
  if (kinds == PDH_FMT_DOUBLE) {
    value->doubleValue = v;
  } else if (kinds == PDH_FMT_LARGE) {
    value->largeValue = v >= 9.2e18 ? INT64_MAX : static_cast<LONGLONG>(v);
  } else {
    value->longValue = v >= 2147483647.0 ? INT32_MAX : static_cast<LONG>(v);
  }
  return ERROR_SUCCESS;
}

PDH_STATUS removeCounter(PDH_HCOUNTER counter) {
  auto counterObject = lookupHandleAs<CounterObject>(counter);
  auto queryObject = counterObject ? counterObject->query.lock() : nullptr;
  if (!queryObject) return PDH_INVALID_HANDLE;
  std::lock_guard lock(queryObject->mutex);
  auto& list = queryObject->counters;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->first != counter) continue;
    list.erase(it);
    removeHandle(counter);
    return ERROR_SUCCESS;
  }
  return PDH_INVALID_HANDLE;  // the query was closed meanwhile
}

PDH_STATUS closeQuery(PDH_HQUERY query) {
  auto queryObject = lookupHandleAs<QueryObject>(query);
  if (!queryObject) return PDH_INVALID_HANDLE;
  std::vector<std::pair<HANDLE, std::shared_ptr<CounterObject>>> counters;
  {
    std::lock_guard lock(queryObject->mutex);
    if (queryObject->closed) return PDH_INVALID_HANDLE;
    queryObject->closed = true;
    counters.swap(queryObject->counters);
  }
  for (const auto& entry : counters) removeHandle(entry.first);
  return removeHandle(query) ? ERROR_SUCCESS : PDH_INVALID_HANDLE;
}

}  // namespace

}  // namespace winapi_linux::pdh

using namespace winapi_linux::pdh;

WINAPI_LAYER PDH_STATUS PdhOpenQueryW(LPCWSTR dataSource, DWORD_PTR userData, PDH_HQUERY* query) {
  (void)userData;
  return guarded([&]() -> PDH_STATUS {
    // Only live data: there are no log files to read from.
    if (!query || (dataSource && *dataSource)) return PDH_INVALID_ARGUMENT;
    HANDLE handle = winapi_linux::insertHandle(std::make_shared<QueryObject>());
    if (!handle) return PDH_MEMORY_ALLOCATION_FAILURE;
    *query = handle;
    return ERROR_SUCCESS;
  });
}

WINAPI_LAYER PDH_STATUS PdhCloseQuery(PDH_HQUERY query) {
  return guarded([&] { return closeQuery(query); });
}

WINAPI_LAYER PDH_STATUS PdhAddCounterW(PDH_HQUERY query, LPCWSTR fullCounterPath, DWORD_PTR userData,
                                       PDH_HCOUNTER* counter) {
  (void)userData;
  return guarded([&] { return addCounter(query, fullCounterPath, counter); });
}

WINAPI_LAYER PDH_STATUS PdhRemoveCounter(PDH_HCOUNTER counter) {
  return guarded([&] { return removeCounter(counter); });
}

WINAPI_LAYER PDH_STATUS PdhCollectQueryData(PDH_HQUERY query) {
  return guarded([&] { return collect(query); });
}

WINAPI_LAYER PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD type,
                                                    PPDH_FMT_COUNTERVALUE value) {
  return guarded([&] { return formattedValue(counter, format, type, value); });
}
