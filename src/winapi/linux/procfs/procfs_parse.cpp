// Parsers of the system-wide procfs files `stat` and `meminfo`.
#include "procfs/procfs_parse.h"

#include "procfs/procfs_text.h"

namespace winapi_linux::procfs {

namespace {

// "cpu7" → true; the aggregate "cpu" and anything else → false.
bool isProcessorLabel(std::string_view label) {
  if (label.size() < 4 || label.substr(0, 3) != "cpu") return false;
  return parseNumber<uint32_t>(label.substr(3)).has_value();
}

std::optional<CpuTicks> parseCpuLine(FieldScanner& fields) {
  uint64_t values[8] = {};
  int count = 0;
  while (count < 8) {
    auto f = fields.field();
    if (!f) break;
    auto v = parseNumber<uint64_t>(*f);
    if (!v) return std::nullopt;
    values[count++] = *v;
  }
  if (count < 4) return std::nullopt;  // user, nice, system and idle exist on every kernel
  return CpuTicks{values[0], values[1], values[2], values[3], values[4], values[5], values[6], values[7]};
}

}  // namespace

std::optional<SystemStat> parseSystemStat(std::string_view text) {
  SystemStat stat;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    // A processor line cut off by the end of the text would shorten a processor.
    if (line.substr(0, 3) == "cpu" && line.back() != '\n') {
      if (line.size() > 3 && line.substr(0, 4) != "cpu ") ++stat.garbledProcessors;
      continue;
    }
    FieldScanner fields(line);
    auto label = fields.field();
    if (!label) continue;
    if (isProcessorLabel(*label)) {
      auto cpu = parseCpuLine(fields);
      if (cpu)
        stat.cpus.push_back(*cpu);
      else
        ++stat.garbledProcessors;
    } else if (*label == "btime") {
      stat.bootTime = fields.number<uint64_t>();
    } else if (*label == "ctxt") {
      stat.contextSwitches = fields.number<uint64_t>();
    } else if (*label == "processes") {
      stat.processesCreated = fields.number<uint64_t>();
    } else if (*label == "procs_running") {
      stat.procsRunning = fields.number<uint64_t>();
    } else if (*label == "procs_blocked") {
      stat.procsBlocked = fields.number<uint64_t>();
    }
  }
  if (stat.cpus.empty() && stat.garbledProcessors == 0) return std::nullopt;
  return stat;
}

std::optional<Meminfo> parseMeminfo(std::string_view text) {
  struct Known {
    std::string_view name;
    std::optional<uint64_t> Meminfo::*field;
  };
  static constexpr Known kKnown[] = {
      {"MemTotal:", &Meminfo::memTotal},
      {"MemFree:", &Meminfo::memFree},
      {"MemAvailable:", &Meminfo::memAvailable},
      {"Buffers:", &Meminfo::buffers},
      {"Cached:", &Meminfo::cached},
      {"SwapTotal:", &Meminfo::swapTotal},
      {"SwapFree:", &Meminfo::swapFree},
      {"CommitLimit:", &Meminfo::commitLimit},
      {"Committed_AS:", &Meminfo::committedAs},
  };
  if (text.empty()) return std::nullopt;
  Meminfo info;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    FieldScanner fields(line);
    auto name = fields.field();
    if (!name) continue;
    for (const Known& k : kKnown) {
      if (*name != k.name) continue;
      auto value = fields.number<uint64_t>();
      // A number without its unit is a line cut off after the number (or a strange file).
      if (!value || fields.rest() != "kB") return std::nullopt;
      if (!(info.*k.field)) info.*k.field = *value;
      break;
    }
  }
  return info;
}

}  // namespace winapi_linux::procfs
