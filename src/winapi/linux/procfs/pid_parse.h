// Pure parsers of the per-process procfs files `<pid>/stat`, `status`, `statm` and `sessionid`.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/layer_visible.h"

namespace winapi_linux::procfs {

// The fields of `<pid>/stat` the layer uses (field numbers of proc(5) in brackets).
struct PidStat {
  uint32_t pid = 0;        // [1]
  std::string_view comm;   // [2] without its parentheses; a view into the parsed text
  char state = '?';        // [3]
  int64_t ppid = 0;        // [4]
  uint64_t flags = 0;      // [9] PF_* flags of the task
  uint64_t minflt = 0;     // [10]
  uint64_t majflt = 0;     // [12]
  uint64_t utime = 0;      // [14] clock ticks
  uint64_t stime = 0;      // [15] clock ticks
  int64_t priority = 0;    // [18]
  int64_t nice = 0;        // [19]
  int64_t numThreads = 0;  // [20]
  uint64_t starttime = 0;  // [22] clock ticks after boot
  uint64_t vsize = 0;      // [23] bytes
  int64_t rssPages = 0;    // [24] pages
};

// The flag of field [9] that marks a kernel thread.
inline constexpr uint64_t kKernelThreadFlag = 0x00200000;  // PF_KTHREAD

// The command name runs from the first "(" to the last ")", so names with spaces, parentheses
// or "%" survive. nullopt for empty, garbled or cut-off text (every field up to rss must be
// complete) and for a missing closing parenthesis.
LAYER_VISIBLE std::optional<PidStat> parsePidStat(std::string_view text);

// The fields of `<pid>/status` the layer uses; memory in kB. Kernel threads have no Vm*/Rss*
// lines, so those stay empty.
struct PidStatus {
  uint32_t realUid = 0;
  std::optional<uint64_t> threads;
  std::optional<uint64_t> vmPeak, vmSize, vmHwm, vmRss, rssAnon, rssFile, rssShmem, vmSwap;
};

// nullopt for text without a complete "Uid:" line (empty: the process has gone) and when a
// line of a field above is garbled or cut off.
LAYER_VISIBLE std::optional<PidStatus> parsePidStatus(std::string_view text);

// The first three fields of `<pid>/statm`, in pages. resident − shared is the anonymous
// resident memory (RssAnon): resident counts anonymous, file and shared-memory pages, shared
// the latter two.
struct PidStatm {
  uint64_t size = 0, resident = 0, shared = 0;
  uint64_t anonymous() const { return resident > shared ? resident - shared : 0; }
};

// nullopt for text that does not start with three complete unsigned numbers.
LAYER_VISIBLE std::optional<PidStatm> parsePidStatm(std::string_view text);

// The audit session id of `<pid>/sessionid` as written (4294967295 when never set); nullopt
// when the text is not one unsigned 32-bit number (surrounding blanks and a line end allowed).
LAYER_VISIBLE std::optional<uint32_t> parseSessionId(std::string_view text);

// The session id the layer reports: the audit session, with "never set" (and an unreadable
// value) as session 0, where system services live.
inline constexpr uint32_t kUnsetAuditSession = 4294967295u;
inline uint32_t reportedSessionId(std::optional<uint32_t> audit) {
  return audit && *audit != kUnsetAuditSession ? *audit : 0;
}

}  // namespace winapi_linux::procfs
