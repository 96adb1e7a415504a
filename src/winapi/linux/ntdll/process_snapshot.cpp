// The process snapshot (information class 5): the idle process, then one entry per process
// directory of the procfs root, in the published 64-bit entry layout. Each pass reads stat and
// statm of every process through descriptors kept open from earlier passes.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/no_destructor.h"
#include "common/wide_text.h"
#include "ntdll/nt_layout.h"
#include "ntdll/nt_time.h"
#include "ntdll/process_cache.h"
#include "ntdll/system_queries.h"
#include "procfs/pid_parse.h"
#include "procfs/procfs_files.h"
#include "procfs/procfs_readers.h"
#include "procfs/procfs_text.h"

namespace winapi_linux {

namespace {

// Longer names are cut. The kernel shows at most 63 bytes of a task name (kernel threads;
// user tasks have 15), so real names are never cut and every entry has a known upper size.
constexpr size_t kMaxNameChars = 64;
constexpr size_t kEntryAlignment = 8;

constexpr size_t entrySize(size_t nameChars) {
  size_t size = sizeof(nt::ProcessEntry) + (nameChars + 1) * sizeof(WCHAR);  // name plus NUL
  return (size + kEntryAlignment - 1) / kEntryAlignment * kEntryAlignment;
}
constexpr size_t kMaxEntrySize = entrySize(kMaxNameChars);
constexpr std::string_view kIdleName = "Idle";

SIZE_T kilobytes(std::optional<uint64_t> kb) {
  uint64_t v = kb.value_or(0);
  return v > std::numeric_limits<SIZE_T>::max() / 1024 ? std::numeric_limits<SIZE_T>::max() : v * 1024;
}

ULONG low32(uint64_t v) { return static_cast<ULONG>(v); }

ULONG clampUlong(int64_t v) {
  if (v < 0) return 0;
  return v > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max() : static_cast<ULONG>(v);
}

// Windows base priorities of the priority classes: idle 4, below normal 6, normal 8, above
// normal 10, high 13, real time 24. A negative `priority` field marks a real-time policy.
LONG basePriority(const procfs::PidStat& s) {
  if (s.priority < 0) return 24;
  if (s.nice >= 15) return 4;
  if (s.nice >= 5) return 6;
  if (s.nice > -5) return 8;
  if (s.nice > -15) return 10;
  return 13;
}

// The numeric names of a directory, ascending: a steady order for callers and tests.
// getdents64 on the open root avoids a DIR stream per snapshot.
int listPids(int rootFd, std::vector<uint32_t>& pids) {
  pids.clear();
  if (::lseek(rootFd, 0, SEEK_SET) < 0) return errno;
  alignas(dirent64) char buf[16384];
  for (;;) {
    ssize_t n = ::getdents64(rootFd, buf, sizeof buf);
    if (n < 0) return errno;
    if (n == 0) break;
    for (ssize_t off = 0; off < n;) {
      auto* d = reinterpret_cast<dirent64*>(buf + off);
      off += d->d_reclen;
      if (d->d_type != DT_DIR && d->d_type != DT_UNKNOWN) continue;
      if (d->d_name[0] < '1' || d->d_name[0] > '9') continue;  // also skips "0" and ".."
      if (auto pid = procfs::parseNumber<uint32_t>(d->d_name)) pids.push_back(*pid);
    }
  }
  // procfs lists processes by pid already; other trees may not.
  if (!std::is_sorted(pids.begin(), pids.end())) std::sort(pids.begin(), pids.end());
  return 0;
}

size_t upperBound(size_t processes) { return entrySize(kIdleName.size()) + processes * kMaxEntrySize; }

// Everything about one process that goes into its entry. Only stat is needed; a missing or
// odd statm, status or sessionid costs the figures it holds, not the process.
struct ProcessFacts {
  procfs::PidStat stat;
  std::optional<procfs::PidStatm> statm;
  std::optional<procfs::PidStatus> status;  // read only while swap is in use
  uint32_t sessionId = 0;
};

// Buffers for one process's files, reused for every process of a pass; the parsed stat's
// name points into statText.
struct ProcessTexts {
  char statText[4096];
  char statmText[256];
  char statusText[8192];
  char sessionText[32];
};

// What every process of one pass shares.
struct PassContext {
  int rootFd;
  DescriptorBudget& budget;
  bool checkRemoved;  // a fixture tree: a file replaced since the last pass is opened anew
  bool swapInUse;
};

// nullopt when the process has gone (or left an unreadable or garbled stat) while being read.
std::optional<ProcessFacts> readProcess(const PassContext& pass, CachedProcess& p, ProcessTexts& texts) {
  ProcessDirectory dir(pass.rootFd, p.pid);
  auto read = [&](KeptFile& file, const char* name, std::span<char> text) {
    return file.read(dir, name, text, pass.budget, pass.checkRemoved);
  };
  ReadResult r = read(p.stat, "stat", texts.statText);
  auto stat = r.ok() ? procfs::parsePidStat({texts.statText, r.length}) : std::nullopt;
  if (!stat) {
    p.forget();
    return std::nullopt;
  }
  if (p.starttime != stat->starttime) {
    // Another process under a known pid: nothing read for the previous one holds.
    p.sessionId.reset();
    p.sessionid.close();
    p.status.close();
    p.starttime = stat->starttime;
  }
  ProcessFacts facts{*stat, std::nullopt, std::nullopt, 0};

  r = read(p.statm, "statm", texts.statmText);
  if (r.error == ESRCH) {
    p.forget();
    return std::nullopt;
  }
  if (r.ok()) facts.statm = procfs::parsePidStatm({texts.statmText, r.length});

  // Swapped-out memory is only in status; without swap in use it is 0 for every process.
  if (pass.swapInUse) {
    r = read(p.status, "status", texts.statusText);
    if (r.error == ESRCH) {
      p.forget();
      return std::nullopt;
    }
    if (r.ok()) facts.status = procfs::parsePidStatus({texts.statusText, r.length});
  } else {
    p.status.close();
  }

  // A login sets the session once, early in a process's life; until then it is read again.
  // Kernels without audit support have no sessionid file: session 0 like a system process.
  if (!p.sessionId) {
    r = read(p.sessionid, "sessionid", texts.sessionText);
    if (r.error == ESRCH) {
      p.forget();
      return std::nullopt;
    }
    std::optional<uint32_t> audit = r.ok() ? procfs::parseSessionId({texts.sessionText, r.length}) : std::nullopt;
    facts.sessionId = procfs::reportedSessionId(audit);
    if ((audit && *audit != procfs::kUnsetAuditSession) || r.error == ENOENT) {
      p.sessionId = facts.sessionId;
      p.sessionid.close();
    }
  } else {
    facts.sessionId = *p.sessionId;
  }
  return facts;
}

// Without a boot time the creation time is the start time after an unknown boot: still the
// same for the same process and different for a later one.
struct BootTime {
  bool known = false;
  uint64_t seconds = 0;  // since 1970
};

int64_t createTime(BootTime boot, uint64_t starttime) {
  return boot.known ? unixTimeToFiletime(boot.seconds, starttime) : ticksToNtTime(starttime);
}

SIZE_T pagesToBytes(uint64_t pages) {
  static const uint64_t pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return pages > std::numeric_limits<SIZE_T>::max() / pageSize ? std::numeric_limits<SIZE_T>::max()
                                                                 : pages * pageSize;
}

nt::ProcessEntry describe(const ProcessFacts& p, uint32_t pid, BootTime bootTime) {
  const procfs::PidStat& s = p.stat;
  nt::ProcessEntry e{};
  e.NumberOfThreads = clampUlong(s.numThreads);
  e.NumberOfThreadsHighWatermark = e.NumberOfThreads;
  e.HardFaultCount = low32(s.majflt);
  e.CreateTime = createTime(bootTime, s.starttime);
  e.UserTime = ticksToNtTime(s.utime);
  e.KernelTime = ticksToNtTime(s.stime);
  e.BasePriority = basePriority(s);
  e.UniqueProcessId = reinterpret_cast<HANDLE>(uintptr_t{pid});
  e.InheritedFromUniqueProcessId = reinterpret_cast<HANDLE>(uintptr_t{clampUlong(s.ppid)});
  e.SessionId = p.sessionId;
  e.VirtualSize = s.vsize;
  e.PageFaultCount = low32(s.minflt + s.majflt);
  // statm is read in the same pass as stat; stat's rss is the fallback when it is unreadable.
  const uint64_t residentPages = p.statm ? p.statm->resident : static_cast<uint64_t>(std::max<int64_t>(s.rssPages, 0));
  e.WorkingSetSize = pagesToBytes(residentPages);
  SIZE_T anon = p.statm ? pagesToBytes(p.statm->anonymous()) : 0;
  e.WorkingSetPrivateSize = static_cast<LONGLONG>(std::min<SIZE_T>(anon, std::numeric_limits<LONGLONG>::max()));
  // Peaks come with status, which is read only while swap is in use; otherwise the current
  // figures stand in for them.
  const procfs::PidStatus* st = p.status ? &*p.status : nullptr;
  e.PeakVirtualSize = st && st->vmPeak ? kilobytes(st->vmPeak) : s.vsize;
  e.PeakWorkingSetSize = st && st->vmHwm ? std::max(kilobytes(st->vmHwm), e.WorkingSetSize) : e.WorkingSetSize;
  // Private bytes: anonymous memory, resident or swapped out. Windows reports the same commit
  // charge as page-file usage; Linux keeps no peak of it.
  SIZE_T swap = st ? kilobytes(st->vmSwap) : 0;
  e.PrivatePageCount =
      anon > std::numeric_limits<SIZE_T>::max() - swap ? std::numeric_limits<SIZE_T>::max() : anon + swap;
  e.PagefileUsage = e.PrivatePageCount;
  e.PeakPagefileUsage = e.PrivatePageCount;
  return e;
}

// The name as at most kMaxNameChars characters. Task names are nearly always ASCII, which is
// widened in place; anything else goes through the UTF-8 decoder (U+FFFD for stray bytes).
size_t widenName(std::string_view name, WCHAR (&out)[kMaxNameChars + 1]) {
  bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    size_t n = std::min(name.size(), kMaxNameChars);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<WCHAR>(name[i]);
    return n;
  }
  std::wstring wide = wide_text::fromUtf8Lossy(name);
  size_t n = std::min(wide.size(), kMaxNameChars);
  wide.copy(out, n);
  return n;
}

// Appends entries to the caller's buffer, each 8-byte aligned with its name right behind it,
// and links each to the next.
class EntryWriter {
 public:
  EntryWriter(PVOID buffer, ULONG length) : out_(static_cast<unsigned char*>(buffer)), length_(length) {}

  // false when the entry does not fit; the buffer then holds a shorter, still valid chain.
  bool append(nt::ProcessEntry entry, std::string_view name) {
    WCHAR wide[kMaxNameChars + 1];
    size_t chars = widenName(name, wide);
    wide[chars] = L'\0';
    size_t size = entrySize(chars);
    if (size > length_ - used_) return false;
    if (last_ != kNone) {
      auto next = static_cast<ULONG>(used_ - last_);
      std::memcpy(out_ + last_ + offsetof(nt::ProcessEntry, NextEntryOffset), &next, sizeof next);
    }
    unsigned char* at = out_ + used_;
    entry.NextEntryOffset = 0;
    entry.ImageName.Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    entry.ImageName.MaximumLength = static_cast<USHORT>((chars + 1) * sizeof(WCHAR));
    entry.ImageName.Buffer = reinterpret_cast<WCHAR*>(at + sizeof entry);
    std::memcpy(at, &entry, sizeof entry);
    std::memcpy(at + sizeof entry, wide, (chars + 1) * sizeof(WCHAR));
    std::memset(at + sizeof entry + (chars + 1) * sizeof(WCHAR), 0, size - sizeof entry - (chars + 1) * sizeof(WCHAR));
    last_ = used_;
    used_ += size;
    return true;
  }

  size_t used() const { return used_; }

 private:
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();
  unsigned char* out_;
  size_t length_;
  size_t used_ = 0;
  size_t last_ = kNone;
};

NTSTATUS lengthMismatch(size_t needed, PULONG returned) {
  if (returned) *returned = static_cast<ULONG>(std::min<size_t>(needed, std::numeric_limits<ULONG>::max()));
  return STATUS_INFO_LENGTH_MISMATCH;
}

// The idle process: one thread per processor and, as on Windows, their idle time as its
// kernel time. A garbled processor line leaves the idle time unknown (0) rather than short.
nt::ProcessEntry idleEntry(const std::optional<procfs::SystemStat>& system) {
  nt::ProcessEntry idle{};
  if (!system) return idle;
  uint64_t idleTicks = 0;
  for (const procfs::CpuTicks& c : system->cpus) idleTicks = saturatingAdd(idleTicks, saturatingAdd(c.idle, c.iowait));
  if (system->garbledProcessors == 0) idle.KernelTime = ticksToNtTime(idleTicks);
  idle.NumberOfThreads = clampUlong(static_cast<int64_t>(system->cpus.size() + system->garbledProcessors));
  return idle;
}

bool swapInUse() {
  auto meminfo = readMeminfo();
  if (!meminfo.value) return true;  // unknown: read status to be exact
  return meminfo.value->swapTotal.value_or(0) > meminfo.value->swapFree.value_or(0);
}

// The snapshot's state, shared by every caller. Lock order: `mutex` is a leaf; nothing else
// is locked while it is held.
struct SnapshotState {
  std::mutex mutex;
  std::vector<uint32_t> pids;
  std::optional<ProcessCache> cache;
  ProcessTexts texts;

  ProcessCache& processes() {
    if (!cache) cache.emplace(DescriptorBudget::fromProcessLimit());
    return *cache;
  }
};

SnapshotState& snapshotState() {
  static NoDestructor<SnapshotState> state;
  return state.get();
}

}  // namespace

void setSnapshotDescriptorLimit(size_t limit) {
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  state.processes().reset(limit == kDefaultSnapshotDescriptors ? DescriptorBudget::fromProcessLimit() : limit);
}

size_t snapshotDescriptorsKept() {
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  return state.cache ? state.cache->budget().used() : 0;
}

NTSTATUS queryProcessSnapshot(PVOID buffer, ULONG length, PULONG returned) {
  const std::string rootPath = procfsRoot();
  ScopedFd root = openDirectory(rootPath.c_str());
  if (!root.valid()) return STATUS_UNSUCCESSFUL;
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  if (listPids(root.get(), state.pids) != 0) return STATUS_UNSUCCESSFUL;

  // The caller's first call comes with no buffer: answer from the directory alone.
  if (!buffer || length < entrySize(kIdleName.size())) return lengthMismatch(upperBound(state.pids.size()), returned);

  // Boot time and processor lines serve only creation times and the idle entry: a stat
  // without them costs those figures, not the snapshot.
  auto system = readSystemStat();
  BootTime bootTime;
  if (system.value && system.value->bootTime) bootTime = {true, system.value->bootTime.value_or(0)};

  ProcessCache& cache = state.processes();
  cache.beginPass(root.get(), rootPath);
  cache.align(state.pids);
  const PassContext pass{root.get(), cache.budget(), !cache.procfs(), swapInUse()};

  EntryWriter writer(buffer, length);
  writer.append(idleEntry(system.value), kIdleName);
  for (CachedProcess& process : cache.processes()) {
    auto facts = readProcess(pass, process, state.texts);
    if (!facts) continue;
    if (!writer.append(describe(*facts, process.pid, bootTime), facts->stat.comm)) {
      // The bound holds for every listed process; more may have started since.
      return lengthMismatch(std::max(upperBound(state.pids.size()), size_t{length} + kMaxEntrySize), returned);
    }
  }
  if (returned) *returned = static_cast<ULONG>(writer.used());
  return STATUS_SUCCESS;
}

}  // namespace winapi_linux
