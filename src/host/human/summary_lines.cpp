// Text of the lines human mode prints for people.
#include "human/summary_lines.h"

#include <algorithm>
#include <cstdio>

namespace vhost {

namespace {

std::string format(const char* pattern, double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string seconds(uint64_t ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : format("%.1f s", static_cast<double>(ms) / 1000);
}

std::string gigabytes(uint64_t bytes) { return format("%.1f", static_cast<double>(bytes) / 1e9); }

// Short names and units of the counters the plug-in collects by default; {} stands for the value.
struct CounterName {
  const char* valueName;
  const char* text;
};
constexpr CounterName kCounterNames[] = {
    {"Disk Transfers per sec", "disk {} transfers/s"},
    {"Current Disk Queue Length", "disk queue {}"},
    {"Avg. Disk sec per Read", "read wait {} s"},
    {"Avg. Disk sec per Write", "write wait {} s"},
    {"Processor Queue Length", "run queue {}"},
    {"Pages Input per sec", "pages in {}/s"},
    {"Pages Output per sec", "pages out {}/s"},
};

}  // namespace

std::string durationText(uint64_t ns) {
  const double ms = static_cast<double>(ns) / 1e6;
  return format(ms < 10 ? "%.1f ms" : "%.0f ms", ms);
}

std::string groupedNumber(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string summaryLine(const PassSummary& pass) {
  std::string line = "pass " + std::to_string(pass.number);
  if (pass.cpuPercent)
    line += "  CPU " + std::to_string(*pass.cpuPercent) + "%";
  else
    line += pass.number == 1 ? "  CPU (from pass 2)" : "  CPU -";
  std::optional<int64_t> memory = pass.memoryPercent;
  if (!memory && pass.totalBytes && *pass.totalBytes > 0 && pass.availableBytes)
    memory = static_cast<int64_t>((*pass.totalBytes - std::min(*pass.availableBytes, *pass.totalBytes)) * 100 /
                                  *pass.totalBytes);
  line += "  memory " + (memory ? std::to_string(*memory) + "%" : std::string("-"));
  if (pass.totalBytes && pass.availableBytes) {
    const uint64_t used = *pass.totalBytes - std::min(*pass.availableBytes, *pass.totalBytes);
    line += " (" + gigabytes(used) + " of " + gigabytes(*pass.totalBytes) + " GB used)";
  }
  if (pass.processes) line += "  " + groupedNumber(*pass.processes) + " processes";
  line += "  pass " + durationText(pass.elapsedNs);
  if (!pass.ok) line += " (failed)";
  return line;
}

std::string counterText(const std::string& valueName, int64_t value) {
  const std::string number = std::to_string(value);
  for (const CounterName& known : kCounterNames) {
    if (valueName != known.valueName) continue;
    std::string text = known.text;
    return text.replace(text.find("{}"), 2, number);
  }
  std::string name = valueName;
  if (name.ends_with(" per sec")) return name.substr(0, name.size() - 8) + " " + number + "/s";
  return name + " " + number;
}

std::string countersLine(const std::vector<std::pair<std::string, int64_t>>& counters) {
  std::string line;
  for (const auto& [name, value] : counters) line += (line.empty() ? "" : ", ") + counterText(name, value);
  return line;
}

std::string firstFiguresLine(uint32_t periodMs) {
  return "first figures after the first pass, in " + seconds(periodMs) + "; CPU after the second, in " +
         seconds(2ull * periodMs);
}

std::string earlyFailuresLine(const std::vector<uint32_t>& statuses, std::optional<uint32_t> periodMs) {
  if (statuses.empty()) return {};
  for (uint32_t status : statuses)
    if (status != kCounterInvalidData) return {};
  std::string line = "the " + std::to_string(statuses.size()) +
                     " counter reads above have no value yet: rates and averages need two collections";
  return line + (periodMs ? ", the second comes with the first pass, in " + seconds(*periodMs) : std::string());
}

std::string settingsLine(const std::vector<SettingSource>& settings) {
  std::string chosen, defaults;
  bool fromRegistry = false;
  for (const SettingSource& s : settings) {
    const std::string item = s.name + "=" + s.value;
    if (s.from == SettingSource::From::Default) {
      defaults += (defaults.empty() ? "" : ", ") + item;
      continue;
    }
    fromRegistry = fromRegistry || s.from == SettingSource::From::Registry;
    chosen += (chosen.empty() ? "" : ", ") + item +
              (s.from == SettingSource::From::Registry ? " (registry)" : " (--set)");
  }
  std::string line = "alarm settings: ";
  if (chosen.empty()) return line + "all defaults (" + defaults + ")";
  line += chosen;
  if (!defaults.empty()) line += "; defaults: " + defaults;
  if (fromRegistry) line += "; --unset NAME restores a default";
  return line;
}

}  // namespace vhost
