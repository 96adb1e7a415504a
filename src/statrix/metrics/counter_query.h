// CounterQuery: one PDH query holding one counter per distinct concrete metric definition.
#pragma once
#include <map>
#include <set>
#include <vector>

#include "metrics/counter_names.h"
#include "metrics/metric_definition.h"
#include "metrics/pdh_functions.h"

// One counter of the query.
struct CounterEntry {
  CORE::corestring path;            // in the system's language; built when first added
  PDH_HCOUNTER handle = nullptr;    // null until added to a query
  double rawValue = 0.0;            // last formatted value read
  MetricDefinition definition;      // the concrete definition the counter was made for
};

// Not thread-safe: every call is made under the metric manager's lock.
class CounterQuery {
 public:
  // `names` maps English names to the indices PDH looks local names up by.
  explicit CounterQuery(const PdhFunctions& pdh = systemPdhFunctions(),
                        const CounterNameIndex& names = englishCounterIndex())
      : pdh_(&pdh), names_(&names), query_(pdh) {}
  CounterQuery(const CounterQuery&) = delete;
  CounterQuery& operator=(const CounterQuery&) = delete;

  // Adds one counter for a concrete definition unless its key is present. A counter PDH
  // refuses is logged and forgotten; the next update tries again.
  void addCounter(const MetricDefinition& definition);
  // Probes PDH with a temporary query, then adds every definition of the table that has no
  // counter yet ("*" definitions are expanded). Session-related definitions wait until an
  // active user session has been seen once.
  void updateCounters(const std::vector<MetricDefinition>& table);
  // Removes every counter (the query stays open), forgets failure marks, then updates.
  void rebuildCounters(const std::vector<MetricDefinition>& table);
  // Adds every counter of the object matching a "*" definition (counter and/or instance "*").
  void extendCounter(const MetricDefinition& definition);

  // Collects the query and appends one value per readable counter; false (nothing appended)
  // when the collection itself fails. Unreadable counters are logged at Error and kept.
  bool collectValues(std::vector<MetricValue>& values);
  // As collectValues, but a counter that fails two reads in a row here is removed.
  bool collectValuesTracked(std::vector<MetricValue>& values);

  size_t counterCount() const { return counterSet_.size(); }
  size_t failureCount() const { return failureSet_.size(); }
  bool isOpen() const { return query_.isOpen(); }
  bool activeSessionSeen() const { return activeSessionSeen_; }
  // Counters in key order, for inspection.
  const std::map<CORE::corestring, CounterEntry>& counters() const { return counterSet_; }

 private:
  // Builds the entry's path, opens `query` if needed and adds the counter to it.
  bool addToQuery(CounterEntry& entry, PdhQueryHandle& query);
  bool removeFromQuery(CounterEntry& entry);
  PDH_STATUS readCounterValue(CounterEntry& entry);
  bool collectStep();
  void probe();
  // True once an active session has been seen (enumerating the sessions while it has not).
  bool sessionSeen();

  const PdhFunctions* pdh_;
  const CounterNameIndex* names_;
  PdhQueryHandle query_;  // declared before the sets: closing it releases their counters
  std::map<CORE::corestring, CounterEntry> counterSet_;  // by counterKey
  std::set<CORE::corestring> failureSet_;                // keys whose last tracked read failed
  bool activeSessionSeen_ = false;  // one query per process, so this is process-wide
};
