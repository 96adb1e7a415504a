// PerfmonMetricManager: the metric table, the counter query and the latest values behind one lock.
#pragma once
#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include "metrics/counter_query.h"
#include "metrics/metric_table.h"

class PerfmonMetricManager {
 public:
  // The one manager of the process, created on first use (thread-safe), destroyed at unload.
  static PerfmonMetricManager& instance();

  // Tests build managers of their own over a table of fake platform calls.
  explicit PerfmonMetricManager(const PdhFunctions& pdh = systemPdhFunctions(),
                                const CounterNameIndex& names = englishCounterIndex())
      : query_(pdh, names) {}
  PerfmonMetricManager(const PerfmonMetricManager&) = delete;
  PerfmonMetricManager& operator=(const PerfmonMetricManager&) = delete;

  // Re-entrant; held for the whole of every operation on the members below, PDH calls included.
  // Lock order: the watch's settingsLock first, then this lock. Nothing takes the WatchState lock
  // (or any other lock of the watch) while holding this one, and nothing holding this one waits
  // for a thread. The one-time initialisation's mutex (initMutex_) comes before this lock.
  CORE::corecritsec& lock() { return lock_; }

  CounterQuery& query() { return query_; }
  MetricTable& table() { return table_; }
  std::vector<MetricValue>& latestValues() { return latestValues_; }
  // Counter names whose registry value holds a published figure since the last reset.
  std::set<CORE::corestring>& publishedCounters() { return publishedCounters_; }

  // Under the lock: the table becomes the seven defaults.
  void loadDefaultMetrics();

  // Runs `init` unless it has completed once; concurrent callers wait for the running one. If
  // `init` throws, the next call runs it again.
  template <class F>
  void initialiseOnce(F&& init) {
    if (initialised_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> hold(initMutex_);
    if (initialised_.load(std::memory_order_relaxed)) return;
    init();
    initialised_.store(true, std::memory_order_release);
  }

 private:
  // Members are destroyed in reverse: values, table, then the query (which closes PDH's query).
  CORE::corecritsec lock_;
  CounterQuery query_;
  MetricTable table_;
  std::vector<MetricValue> latestValues_;  // the last collection, in counter order
  std::set<CORE::corestring> publishedCounters_;
  std::mutex initMutex_;
  std::atomic<bool> initialised_{false};
};
