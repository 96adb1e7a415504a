// The figures of each sampling pass as the runner sees them: the statistics the pass writes,
// its duration, the alarms it raises; handed from the plug-in's timer thread to the thread
// that shows them.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json_fwd.h"

namespace vhost {

// One pass. The plug-in's part comes from its registry writes during the pass; the runner's
// part (memory in bytes, process count) is filled in by whoever shows it.
struct PassSummary {
  uint64_t number = 0;  // 1 for the first pass since start
  uint64_t elapsedNs = 0;
  bool ok = true;                        // the pass did not report failure
  std::optional<int64_t> cpuPercent;     // "CpuPercentage" written by this pass
  std::optional<int64_t> memoryPercent;  // "MemoryPercentage" written by this pass
  // The other statistics of the pass, one per counter value name, in the order written.
  std::vector<std::pair<std::string, int64_t>> counters;
  std::optional<uint64_t> totalBytes, availableBytes;
  std::optional<size_t> processes;
};

// An alarm broadcast as a person reads it, e.g. "CPU alarm 93%".
struct AlarmNote {
  std::chrono::steady_clock::time_point when;
  std::string text;
};

class PassFigures {
 public:
  using Clock = std::chrono::steady_clock;

  // Observations; any thread, each takes the lock briefly.
  void observeRegistryWrite(const std::string& path, const std::string& value, bool ok);
  void observeTimerStart(uint32_t periodMs);
  void observeTimerPass(uint64_t elapsedNs, bool result);
  // Every broadcast in its JSON event form (events::broadcast).
  void observeBroadcast(const Json& event);
  void observeLog(const std::string& text);
  // Tests give the time of an observation explicitly.
  void observeRegistryWriteAt(Clock::time_point when, const std::string& path, const std::string& value, bool ok);
  void observeTimerPassAt(Clock::time_point when, uint64_t elapsedNs, bool result);

  // Waits at most `timeout` for passes not taken yet and returns them, oldest first.
  std::vector<PassSummary> takePasses(std::chrono::milliseconds timeout);
  // Wakes a thread in takePasses (e.g. on a stop request or a key press).
  void wake();

  // The watch timer's period, once it has started.
  std::optional<uint32_t> timerPeriodMs() const;
  // The status codes of the counter reads that failed before the first pass.
  std::vector<uint32_t> earlyCounterFailures() const;
  // Alarm broadcasts since start (at most the latest kAlarmsKept) and their total number.
  std::vector<AlarmNote> alarms(size_t* total = nullptr) const;
  // Process ids of the latest consumer list, empty before the first.
  std::vector<uint32_t> latestConsumers() const;

  static constexpr size_t kAlarmsKept = 64;

 private:
  struct Write {
    Clock::time_point when;
    std::string name;
    int64_t value;
  };

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable ready_;
  bool woken_ = false;
  std::vector<Write> writes_;  // statistics written since the previous pass ended
  std::deque<PassSummary> passes_;
  uint64_t passCount_ = 0;
  std::optional<uint32_t> periodMs_;
  std::vector<uint32_t> earlyFailures_;
  std::deque<AlarmNote> alarms_;
  size_t alarmTotal_ = 0;
  std::vector<uint32_t> consumers_;
};

// "Failed to get data from counter, error: 0xc0000bc6, ..." gives 0xc0000bc6; other texts nothing.
std::optional<uint32_t> counterReadFailure(const std::string& logText);

// The status of a counter read that has no value yet because a rate needs two collections.
inline constexpr uint32_t kCounterInvalidData = 0xC0000BC6u;

}  // namespace vhost
