// PDH queries and counters as objects of the handle table, and the clock their rates use.
//
// A query owns its counters: closing it closes their handles. A counter refers back to its
// query weakly, and its state is guarded by the query's mutex. Lock order: a query's mutex,
// then the handle table's lock (a leaf); no other lock is taken under a query's mutex.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "advapi32/perf_catalog.h"
#include "common/layer_visible.h"
#include "kernelbase/handle_table.h"
#include "pdh/perf_values.h"

namespace winapi_linux::pdh {

// The clock of collection times, in nanoseconds: CLOCK_MONOTONIC unless a test installs its
// own (null restores the monotonic clock), so that intervals between collections are exact.
using CollectionClock = uint64_t (*)();
LAYER_VISIBLE void setCollectionClock(CollectionClock clock);
uint64_t collectionTime();

class QueryObject;

struct CounterState {
  const perf::ObjectDef* object = nullptr;
  const perf::CounterDef* counter = nullptr;
  std::wstring instance;   // empty for an object without instances
  bool unmatched = false;  // a parent or "#n" index in the path: no instance of ours has one
  bool collected = false;  // at least one collection since the counter was added
  std::optional<perf::RawSample> previous, current;
  DWORD currentStatus = PDH_CSTATUS_INVALID_DATA;  // why `current` is empty
  bool readSinceCollect = false;
};

class CounterObject final : public KernelObject {
 public:
  CounterObject(std::weak_ptr<QueryObject> query, CounterState state)
      : query(std::move(query)), state(std::move(state)) {}
  const std::weak_ptr<QueryObject> query;
  CounterState state;  // guarded by the query's mutex
};

class QueryObject final : public KernelObject {
 public:
  std::mutex mutex;
  bool closed = false;  // guarded by mutex
  std::vector<std::pair<HANDLE, std::shared_ptr<CounterObject>>> counters;  // guarded by mutex
};

}  // namespace winapi_linux::pdh
