// Parsers of the per-process procfs files `<pid>/stat`, `status`, `statm` and `sessionid`.
#include "procfs/pid_parse.h"

#include "procfs/procfs_text.h"

namespace winapi_linux::procfs {

std::optional<PidStat> parsePidStat(std::string_view text) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  // "<pid> (" before the name.
  if (open < 2 || text[open - 1] != ' ') return std::nullopt;
  auto pid = parseNumber<uint32_t>(text.substr(0, open - 1));
  if (!pid) return std::nullopt;

  PidStat s;
  s.pid = *pid;
  s.comm = text.substr(open + 1, close - open - 1);
  std::string_view rest = text.substr(close + 1);
  if (rest.empty() || rest.front() != ' ') return std::nullopt;

  FieldScanner f(rest);
  auto state = f.field();
  if (!state || state->size() != 1) return std::nullopt;
  s.state = state->front();
  auto ppid = f.number<int64_t>();
  if (!ppid || !f.skip(4)) return std::nullopt;  // pgrp session tty_nr tpgid
  auto flags = f.number<uint64_t>();
  if (!flags) return std::nullopt;
  auto minflt = f.number<uint64_t>();
  if (!minflt || !f.skip(1)) return std::nullopt;  // cminflt
  auto majflt = f.number<uint64_t>();
  if (!majflt || !f.skip(1)) return std::nullopt;  // cmajflt
  auto utime = f.number<uint64_t>();
  auto stime = f.number<uint64_t>();
  if (!utime || !stime || !f.skip(2)) return std::nullopt;  // cutime cstime
  auto priority = f.number<int64_t>();
  auto nice = f.number<int64_t>();
  auto threads = f.number<int64_t>();
  if (!priority || !nice || !threads || !f.skip(1)) return std::nullopt;  // itrealvalue
  auto starttime = f.number<uint64_t>();
  auto vsize = f.number<uint64_t>();
  auto rss = f.number<int64_t>();
  if (!starttime || !vsize || !rss) return std::nullopt;

  s.ppid = *ppid;
  s.flags = *flags;
  s.minflt = *minflt;
  s.majflt = *majflt;
  s.utime = *utime;
  s.stime = *stime;
  s.priority = *priority;
  s.nice = *nice;
  s.numThreads = *threads;
  s.starttime = *starttime;
  s.vsize = *vsize;
  s.rssPages = *rss;
  return s;
}

std::optional<PidStatus> parsePidStatus(std::string_view text) {
  struct Known {
    std::string_view name;
    std::optional<uint64_t> PidStatus::*field;
  };
  static constexpr Known kKilobytes[] = {
      {"VmPeak:", &PidStatus::vmPeak},     {"VmSize:", &PidStatus::vmSize},   {"VmHWM:", &PidStatus::vmHwm},
      {"VmRSS:", &PidStatus::vmRss},       {"RssAnon:", &PidStatus::rssAnon}, {"RssFile:", &PidStatus::rssFile},
      {"RssShmem:", &PidStatus::rssShmem}, {"VmSwap:", &PidStatus::vmSwap},
  };
  PidStatus status;
  bool haveUid = false;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    FieldScanner f(line);
    auto name = f.field();
    if (!name) continue;
    if (*name == "Uid:") {
      // real, effective, saved, filesystem: all four, so a cut-off line is noticed.
      auto real = f.number<uint32_t>();
      if (!real || !f.number<uint32_t>() || !f.number<uint32_t>()) return std::nullopt;
      if (!parseNumber<uint32_t>(f.rest())) return std::nullopt;
      status.realUid = *real;
      haveUid = true;
    } else if (*name == "Threads:") {
      auto n = parseNumber<uint64_t>(f.rest());
      if (!n || line.back() != '\n') return std::nullopt;
      status.threads = n;
    } else {
      for (const Known& k : kKilobytes) {
        if (*name != k.name) continue;
        auto value = f.number<uint64_t>();
        if (!value || f.rest() != "kB") return std::nullopt;
        status.*k.field = *value;
        break;
      }
    }
  }
  if (!haveUid) return std::nullopt;
  return status;
}

std::optional<PidStatm> parsePidStatm(std::string_view text) {
  FieldScanner f(text);
  auto size = f.number<uint64_t>();
  auto resident = f.number<uint64_t>();
  auto shared = f.number<uint64_t>();
  if (!size || !resident || !shared) return std::nullopt;
  return PidStatm{*size, *resident, *shared};
}

std::optional<uint32_t> parseSessionId(std::string_view text) {
  while (!text.empty() && isFieldSeparator(text.front())) text.remove_prefix(1);
  while (!text.empty() && isFieldSeparator(text.back())) text.remove_suffix(1);
  return parseNumber<uint32_t>(text);
}

}  // namespace winapi_linux::procfs
