// Collecting the figures of each pass from what the plug-in writes and broadcasts.
#include "human/pass_figures.h"

#include <algorithm>
#include <charconv>

#include "human_format.h"
#include "json.h"

namespace vhost {

namespace {

// Where every pass publishes "CpuPercentage", "MemoryPercentage" and one value per counter.
const std::string& statsPrefix() {
  static const std::string prefix = "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\";
  return prefix;
}

std::optional<int64_t> parseNumber(std::string_view text) {
  int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// The value of entry `name` of a bag in its JSON form, as text; empty when absent.
std::string bagText(const Json& bag, std::string_view name) {
  if (!bag.is_array()) return {};
  for (const Json& entry : bag)
    if (entry.is_array() && entry.size() == 3 && entry[0] == name)
      return entry[2].is_string() ? entry[2].get<std::string>() : dumpLine(entry[2]);
  return {};
}

}  // namespace

std::optional<uint32_t> counterReadFailure(const std::string& logText) {
  static constexpr std::string_view kPrefix = "Failed to get data from counter, error: 0x";
  if (!logText.starts_with(kPrefix)) return std::nullopt;
  uint32_t status = 0;
  const char* begin = logText.data() + kPrefix.size();
  auto [end, ec] = std::from_chars(begin, logText.data() + logText.size(), status, 16);
  if (ec != std::errc() || end == begin) return std::nullopt;
  return status;
}

void PassFigures::observeRegistryWrite(const std::string& path, const std::string& value, bool ok) {
  observeRegistryWriteAt(Clock::now(), path, value, ok);
}

void PassFigures::observeRegistryWriteAt(Clock::time_point when, const std::string& path, const std::string& value,
                                         bool ok) {
  if (!ok || !path.starts_with(statsPrefix())) return;
  std::optional<int64_t> number = parseNumber(value);
  if (!number) return;
  std::lock_guard lock(mutex_);
  writes_.push_back({when, path.substr(statsPrefix().size()), *number});
}

void PassFigures::observeTimerStart(uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  periodMs_ = periodMs;
  woken_ = true;  // the waiting loop can now say when the first figures come
  ready_.notify_all();
}

void PassFigures::observeTimerPass(uint64_t elapsedNs, bool result) {
  observeTimerPassAt(Clock::now(), elapsedNs, result);
}

void PassFigures::observeTimerPassAt(Clock::time_point when, uint64_t elapsedNs, bool result) {
  // Only what was written while the pass ran belongs to it: the zeros of a reset at start or
  // of a metric reconfiguration between passes are no figures.
  const Clock::time_point began = when - std::chrono::nanoseconds(elapsedNs);
  std::lock_guard lock(mutex_);
  PassSummary pass;
  pass.number = ++passCount_;
  pass.elapsedNs = elapsedNs;
  pass.ok = result;
  for (const Write& write : writes_) {
    if (write.when < began) continue;
    if (write.name == "CpuPercentage") {
      pass.cpuPercent = write.value;
    } else if (write.name == "MemoryPercentage") {
      pass.memoryPercent = write.value;
    } else {
      bool replaced = false;
      for (auto& [name, value] : pass.counters)
        if (name == write.name) value = write.value, replaced = true;
      if (!replaced) pass.counters.emplace_back(write.name, write.value);
    }
  }
  writes_.clear();
  passes_.push_back(std::move(pass));
  ready_.notify_all();
}

void PassFigures::observeBroadcast(const Json& event) {
  if (event.value("name", "") != "PERF-ALERT") return;
  const std::string kind = event.value("name2", "");
  const Json bag = event.value("bag", Json::array());
  std::lock_guard lock(mutex_);
  if (kind == "PROCESS-LIST") {
    consumers_.clear();
    for (size_t i = 0;; ++i) {
      auto entry = std::find_if(bag.begin(), bag.end(), [&](const Json& e) {
        return e.is_array() && e.size() == 3 && e[0] == std::to_string(i);
      });
      if (entry == bag.end()) break;
      if (std::optional<int64_t> pid = parseNumber(bagText((*entry)[2], "PROCESSID")))
        consumers_.push_back(static_cast<uint32_t>(*pid));
    }
    return;
  }
  std::string text;
  if (kind == "CPU-ALARM") {
    text = "CPU alarm " + bagText(bag, "CPU_PERCENTAGE") + "%";
  } else if (kind == "MEMORY-ALARM") {
    text = "memory alarm " + bagText(bag, "MEMORY_PERCENTAGE") + "%";
  } else {
    text = humanLine(event);
  }
  alarms_.push_back({Clock::now(), std::move(text)});
  ++alarmTotal_;
  if (alarms_.size() > kAlarmsKept) alarms_.pop_front();
}

void PassFigures::observeLog(const std::string& text) {
  std::optional<uint32_t> status = counterReadFailure(text);
  if (!status) return;
  std::lock_guard lock(mutex_);
  if (passCount_ == 0) earlyFailures_.push_back(*status);
}

std::vector<PassSummary> PassFigures::takePasses(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [&] { return !passes_.empty() || woken_; });
  woken_ = false;
  std::vector<PassSummary> out(std::make_move_iterator(passes_.begin()), std::make_move_iterator(passes_.end()));
  passes_.clear();
  return out;
}

void PassFigures::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  ready_.notify_all();
}

std::optional<uint32_t> PassFigures::timerPeriodMs() const {
  std::lock_guard lock(mutex_);
  return periodMs_;
}

std::vector<uint32_t> PassFigures::earlyCounterFailures() const {
  std::lock_guard lock(mutex_);
  return earlyFailures_;
}

std::vector<AlarmNote> PassFigures::alarms(size_t* total) const {
  std::lock_guard lock(mutex_);
  if (total != nullptr) *total = alarmTotal_;
  return {alarms_.begin(), alarms_.end()};
}

std::vector<uint32_t> PassFigures::latestConsumers() const {
  std::lock_guard lock(mutex_);
  return consumers_;
}

}  // namespace vhost
