// The lines human mode prints for people: the settings at start, the wait for the first
// figures, one summary per pass and the counter metrics with their units.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "human/pass_figures.h"

namespace vhost {

// "2,081"
std::string groupedNumber(uint64_t n);

// "14 ms", "0.4 ms"
std::string durationText(uint64_t ns);

// "pass 12  CPU 51%  memory 19% (4.8 of 25.3 GB used)  2,081 processes  pass 14 ms"
std::string summaryLine(const PassSummary& pass);

// "disk 935 transfers/s, disk queue 0, run queue 0, pages in 0/s, ..."; empty without counters.
std::string countersLine(const std::vector<std::pair<std::string, int64_t>>& counters);

// One counter value with its unit ("pages in 0/s"); a counter without a short name is shown
// under its value name, with "/s" for " per sec".
std::string counterText(const std::string& valueName, int64_t value);

// Before the first pass: when its figures come, and when the CPU figure does.
std::string firstFiguresLine(uint32_t periodMs);

// After the first collection, when every counter read that failed did so only because rates
// and averages need a second collection; empty otherwise.
std::string earlyFailuresLine(const std::vector<uint32_t>& statuses, std::optional<uint32_t> periodMs);

// One alarm setting as the watch will find it.
struct SettingSource {
  std::string name;
  std::string value;  // as the registry holds it, or the default
  enum class From { Default, Registry, CommandLine } from = From::Default;
};

// "alarm settings: OverallCpuPercentage=50 (--set), SamplingIntervalSeconds=5 (registry);
// defaults: AlarmIntervalSeconds=15, ..."
std::string settingsLine(const std::vector<SettingSource>& settings);

}  // namespace vhost
