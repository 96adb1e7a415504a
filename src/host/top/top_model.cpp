// Layout of the live view: header, figures with their history, the busiest processes, the
// counter metrics and the alarms, fitted to the screen.
#include "top/top_model.h"

#include <algorithm>
#include <cstdio>

#include "human/summary_lines.h"

namespace vhost {

namespace {

// Bytes of the UTF-8 sequence that starts with `lead`.
size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

std::string percentText(double value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%5.1f", value);
  return buffer;
}

std::string padLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string runTime(std::chrono::steady_clock::duration elapsed) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  return buffer;
}

// The rows of one process table: a title, a header and up to `rows` processes.
std::vector<std::string> processTable(const TopModel& model, bool byCpu, size_t rows, size_t width) {
  std::vector<std::string> out;
  out.push_back(byCpu ? "busiest by CPU" : "busiest by memory");
  const size_t nameWidth = width > 48 ? std::min<size_t>(24, width - 40) : 8;
  out.push_back("    PID " + fitColumns("NAME", nameWidth) + " " + fitColumns("USER", 16) +
                (byCpu ? "  CPU%" : "  MEM%"));
  for (const ProcessShare* p : model.busiest(byCpu, rows)) {
    const bool consumer = std::find(model.consumers.begin(), model.consumers.end(), p->pid) != model.consumers.end();
    auto user = model.users.find(p->pid);
    out.push_back(std::string(consumer ? "*" : " ") + padLeft(std::to_string(p->pid), 6) + " " +
                  fitColumns(p->name, nameWidth) + " " +
                  fitColumns(user != model.users.end() ? user->second : "", 16) + " " +
                  percentText(byCpu ? p->cpuPercent : p->memoryPercent));
  }
  return out;
}

}  // namespace

void TopModel::addPass(const PassSummary& pass) {
  latest = pass;
  auto push = [](std::deque<int>& history, std::optional<int64_t> value) {
    history.push_back(value ? static_cast<int>(std::clamp<int64_t>(*value, 0, 100)) : -1);
    if (history.size() > kHistory) history.pop_front();
  };
  push(cpuHistory, pass.cpuPercent);
  std::optional<int64_t> memory = pass.memoryPercent;
  if (!memory && pass.totalBytes && pass.availableBytes && *pass.totalBytes > 0)
    memory = static_cast<int64_t>((*pass.totalBytes - std::min(*pass.availableBytes, *pass.totalBytes)) * 100 /
                                  *pass.totalBytes);
  push(memoryHistory, memory);
}

std::vector<const ProcessShare*> TopModel::busiest(bool byCpu, size_t count) const {
  std::vector<const ProcessShare*> order;
  order.reserve(shares.size());
  for (const ProcessShare& share : shares) order.push_back(&share);
  auto key = [byCpu](const ProcessShare* p) { return byCpu ? p->cpuPercent : p->memoryPercent; };
  const size_t n = std::min(count, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n), order.end(),
                    [&](const ProcessShare* a, const ProcessShare* b) {
                      return key(a) != key(b) ? key(a) > key(b) : a->pid < b->pid;
                    });
  order.resize(n);
  return order;
}

std::string fitColumns(const std::string& text, size_t width) {
  std::string out;
  size_t columns = 0, at = 0;
  while (at < text.size() && columns < width) {
    const size_t length = std::min(sequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
    out.append(text, at, length);
    at += length;
    ++columns;
  }
  return out + std::string(width - columns, ' ');
}

std::string sparkline(const std::deque<int>& values, size_t width, bool unicode) {
  static const char* const kBlocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
  static const char kAscii[] = "_.-:=+*#";
  std::string out;
  const size_t first = values.size() > width ? values.size() - width : 0;
  for (size_t i = first; i < values.size(); ++i) {
    if (values[i] < 0) {
      out += ' ';
      continue;
    }
    const int level = std::min(7, values[i] * 8 / 101);
    if (unicode)
      out += kBlocks[level];
    else
      out += kAscii[level];
  }
  return out;
}

std::vector<std::string> renderTop(const TopModel& model, int width, int height, bool unicode,
                                   std::chrono::steady_clock::time_point now) {
  const size_t w = static_cast<size_t>(std::max(width, 1));
  const size_t h = static_cast<size_t>(std::max(height, 1));
  std::vector<std::string> lines;

  std::string header = "statrix  up " + runTime(now - model.start);
  if (model.latest) header += "  pass " + std::to_string(model.latest->number);
  if (model.periodMs) header += " (every " + std::to_string(*model.periodMs / 1000) + " s)";
  if (!model.endpoint.empty()) header += "  " + model.endpoint;
  header += "  q quits";
  lines.push_back(header);

  if (!model.latest) {
    lines.push_back(model.periodMs ? firstFiguresLine(*model.periodMs) : "waiting for the plug-in to start");
  } else {
    const PassSummary& pass = *model.latest;
    const size_t spark = w > 60 ? std::min<size_t>(TopModel::kHistory, (w - 44) / 2) : 0;
    std::string cpu = "CPU    " + (pass.cpuPercent ? padLeft(std::to_string(*pass.cpuPercent), 3) + "%" : "   -");
    std::string memory = "memory " + (model.memoryHistory.empty() || model.memoryHistory.back() < 0
                                          ? std::string("   -")
                                          : padLeft(std::to_string(model.memoryHistory.back()), 3) + "%");
    if (pass.totalBytes && pass.availableBytes) {
      char buffer[64];
      const uint64_t used = *pass.totalBytes - std::min(*pass.availableBytes, *pass.totalBytes);
      std::snprintf(buffer, sizeof buffer, " (%.1f of %.1f GB used)", static_cast<double>(used) / 1e9,
                    static_cast<double>(*pass.totalBytes) / 1e9);
      memory += buffer;
    }
    lines.push_back(fitColumns(cpu, 36) + " " + sparkline(model.cpuHistory, spark, unicode));
    lines.push_back(fitColumns(memory, 36) + " " + sparkline(model.memoryHistory, spark, unicode));
    std::string counts = pass.processes ? groupedNumber(*pass.processes) + " processes" : std::string("processes -");
    counts += "  last pass " + durationText(pass.elapsedNs) + (pass.ok ? "" : " (failed)");
    lines.push_back(counts);
    const std::string counters = countersLine(pass.counters);
    lines.push_back(counters.empty() ? "counters: none yet" : counters);
  }
  std::string alarmLine = "alarms since start: " + std::to_string(model.alarmTotal);
  if (!model.alarms.empty()) alarmLine += "  latest: " + model.alarms.back().text;
  lines.push_back(alarmLine);
  lines.push_back("");

  // The process tables share what is left, side by side when wide enough, less the alarm list.
  const size_t used = lines.size();
  const size_t alarmRows = h > used + 16 ? std::min<size_t>(model.alarms.size(), 5) : 0;
  const size_t left = h > used + alarmRows + (alarmRows ? 1 : 0) ? h - used - alarmRows - (alarmRows ? 1 : 0) : 0;
  if (left >= 3) {
    const bool sideBySide = w >= 110;
    const size_t tableWidth = sideBySide ? w / 2 - 1 : w;
    const size_t rows = sideBySide ? left - 2 : (left >= 6 ? (left - 4) / 2 : left - 2);
    std::vector<std::string> cpu = processTable(model, true, rows, tableWidth);
    std::vector<std::string> memory = processTable(model, false, rows, tableWidth);
    if (sideBySide) {
      for (size_t i = 0; i < std::max(cpu.size(), memory.size()); ++i)
        lines.push_back(fitColumns(i < cpu.size() ? cpu[i] : "", tableWidth) + "  " +
                        (i < memory.size() ? memory[i] : ""));
    } else {
      lines.insert(lines.end(), cpu.begin(), cpu.end());
      if (left >= 6) lines.insert(lines.end(), memory.begin(), memory.end());
    }
    if (!model.consumers.empty() && lines.size() < h) lines.push_back("* in the plug-in's latest consumer list");
  }
  if (alarmRows > 0 && lines.size() + alarmRows < h) {
    lines.push_back("latest alarms");
    for (size_t i = model.alarms.size() - alarmRows; i < model.alarms.size(); ++i) {
      const auto ago = std::chrono::duration_cast<std::chrono::seconds>(now - model.alarms[i].when).count();
      lines.push_back("  " + std::to_string(ago) + " s ago  " + model.alarms[i].text);
    }
  }
  lines.resize(h);
  for (std::string& line : lines) line = fitColumns(line, w);
  return lines;
}

}  // namespace vhost
