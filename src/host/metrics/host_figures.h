// The figures the runner serves on its metrics endpoint: what one round of requests to the
// plug-in's worker returned, and what the runner observed on its own.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vhost {

// Where a counter metric's value comes from; empty texts when the definition is unknown.
struct MetricDefinition {
  std::string object, counter, instance;
};

struct MetricSample {
  std::string metric;
  MetricDefinition definition;
  double value = 0;
};

// One round: "collectCpuAndMem", "collect" and the machine's memory status.
struct RoundFigures {
  bool cpuMemAnswered = false;  // the worker served "collectCpuAndMem"
  int64_t cpuPercent = 0;
  int64_t memoryLoadPercent = 0;
  std::optional<uint64_t> totalBytes, availableBytes;
  std::vector<MetricSample> metrics;  // one per label set, in reply order
  bool countersAnswered = false;      // the worker served "collect"
  std::vector<std::pair<std::string, double>> counters;  // numeric entries of the store
};

enum class AlarmKind { Cpu, Memory, ProcessCpu, ProcessMemory };
inline constexpr std::array<const char*, 4> kAlarmKindNames = {"cpu", "memory", "process_cpu", "process_memory"};

// Upper bounds (seconds) of the pass-duration histogram's buckets, +Inf left out.
inline constexpr std::array<double, 12> kPassBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                        0.1,   0.25,   0.5,   1,    2.5,   5};

// What the runner saw happen, kept between scrapes.
struct ObservedFigures {
  std::array<uint64_t, 4> alarms{};           // by AlarmKind
  std::map<uint32_t, int64_t> sessionCpu;     // last help-desk message, by session id
  std::map<uint32_t, int64_t> sessionMemory;  // the same
  std::array<uint64_t, kPassBuckets.size() + 1> passBuckets{};  // not cumulative; last is +Inf
  uint64_t passCount = 0;
  double passSeconds = 0;
  bool timerRunning = false;   // the watch timer was started and not stopped since
  bool lastPassOk = true;      // the latest pass did not report failure
};

}  // namespace vhost
