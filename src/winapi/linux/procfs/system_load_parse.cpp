// Parsers of `vmstat`, `loadavg` and `uptime`.
#include "procfs/system_load_parse.h"

#include <limits>

#include "procfs/procfs_text.h"

namespace winapi_linux::procfs {

std::optional<Vmstat> parseVmstat(std::string_view text) {
  if (text.empty()) return std::nullopt;
  Vmstat v;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    FieldScanner fields(line);
    auto name = fields.field();
    if (!name) continue;
    std::optional<uint64_t>* target = *name == "pgfault" ? &v.pgfault
                                      : *name == "pswpin" ? &v.pswpin
                                      : *name == "pswpout" ? &v.pswpout
                                                          : nullptr;
    if (target && !*target) *target = fields.number<uint64_t>();
  }
  return v;
}

std::optional<Loadavg> parseLoadavg(std::string_view text) {
  FieldScanner fields(text);
  if (!fields.skip(3)) return std::nullopt;
  auto tasks = fields.field();
  if (!tasks) return std::nullopt;
  size_t slash = tasks->find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  auto running = parseNumber<uint64_t>(tasks->substr(0, slash));
  auto total = parseNumber<uint64_t>(tasks->substr(slash + 1));
  if (!running || !total) return std::nullopt;
  return Loadavg{*running, *total};
}

std::optional<uint64_t> parseUptime(std::string_view text) {
  FieldScanner fields(text);
  auto first = fields.field();
  if (!first) return std::nullopt;
  size_t dot = first->find('.');
  auto seconds = parseNumber<uint64_t>(first->substr(0, dot));
  if (!seconds || *seconds > std::numeric_limits<uint64_t>::max() / 100 - 1) return std::nullopt;
  uint64_t hundredths = 0;
  if (dot != std::string_view::npos) {
    std::string_view fraction = first->substr(dot + 1);
    if (fraction.empty() || fraction.size() > 9) return std::nullopt;
    auto digits = parseNumber<uint64_t>(fraction);
    if (!digits) return std::nullopt;
    // The first two decimals; the kernel prints exactly two.
    uint64_t scaled = *digits;
    for (size_t i = fraction.size(); i < 2; ++i) scaled *= 10;
    for (size_t i = 2; i < fraction.size(); ++i) scaled /= 10;
    hundredths = scaled;
  }
  return *seconds * 100 + hundredths;
}

}  // namespace winapi_linux::procfs
