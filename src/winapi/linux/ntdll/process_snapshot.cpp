// The process snapshot (information class 5): the idle process, then one entry per process
// directory of the procfs root, in the published 64-bit entry layout. Each pass lists the root
// once and reads stat and statm of every process through descriptors kept open from earlier
// passes.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
#include "procfs/pid_listing.h"
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
  bool anyTree;  // not procfs: files are checked to be regular and replaced ones opened anew
  bool swapInUse;
  uint64_t number;  // counts the passes
};

// The kernel sets a process's session only when the process itself writes its login uid (a
// login, early in the process's life); nothing else can. An unset session is read on the
// first kYoungReads passes that see the process, on every pass after which the process has
// run (its CPU ticks or page faults moved: a login does real work), and else on every
// kSessionRecheck-th pass, spread over the passes by pid, so that a write which moved none of
// those figures is reported at most kSessionRecheck - 1 passes late. Kernel threads never
// write it.
constexpr uint32_t kYoungReads = 4;
constexpr uint64_t kSessionRecheck = 16;

uint64_t activity(const procfs::PidStat& s) { return s.utime + s.stime + s.minflt + s.majflt; }

bool sessionDue(const CachedProcess& p, const procfs::PidStat& s, uint64_t pass) {
  return p.sessionReads < kYoungReads || activity(s) != p.activityAtSessionRead ||
         (pass + p.pid) % kSessionRecheck == 0;
}

// One attempt at a process's files; on failure everything kept for it is dropped. Every file
// the attempt reads is opened before stat is read: a stat read that succeeds then proves the
// process was alive after the opens, so they all found it and not a later owner of its pid.
std::optional<ProcessFacts> readAttempt(const PassContext& pass, CachedProcess& p, ProcessTexts& texts) {
  auto open = [&](KeptFile& file, const char* name) {
    return file.open(pass.rootFd, p.pid, name, pass.budget, pass.anyTree);
  };
  auto gone = [&p]() -> std::optional<ProcessFacts> {
    p.forget();
    return std::nullopt;
  };
  if (pass.anyTree) p.closeRemoved();
  if (!p.stat.isOpen()) {
    // What is still open may belong to an earlier process under this pid.
    p.statm.close();
    p.status.close();
    p.sessionid.close();
  }
  if (open(p.stat, "stat") != 0) return gone();
  const int statmError = open(p.statm, "statm");
  // Swapped-out memory is only in status; without swap in use it is 0 for every process.
  int statusError = 0;
  if (pass.swapInUse)
    statusError = open(p.status, "status");
  else
    p.status.close();
  // A process seen for the first time has its session read in any case.
  if (!p.sessionId && p.sessionReads == 0) open(p.sessionid, "sessionid");

  ReadResult r = p.stat.read(texts.statText);
  auto stat = r.ok() ? procfs::parsePidStat({texts.statText, r.length}) : std::nullopt;
  if (!stat) return gone();
  if (p.starttime != stat->starttime) p.newInstance(stat->starttime);
  ProcessFacts facts{*stat, std::nullopt, std::nullopt, 0};

  r = statmError ? ReadResult{0, statmError} : p.statm.read(texts.statmText);
  if (r.error == ESRCH) return gone();
  if (r.ok()) facts.statm = procfs::parsePidStatm({texts.statmText, r.length});

  if (pass.swapInUse) {
    r = statusError ? ReadResult{0, statusError} : p.status.read(texts.statusText);
    if (r.error == ESRCH) return gone();
    if (r.ok()) facts.status = procfs::parsePidStatus({texts.statusText, r.length});
  }

  if (!p.sessionId && (stat->flags & procfs::kKernelThreadFlag)) {
    p.sessionId = 0;
    p.sessionid.close();
  }
  if (p.sessionId) {
    facts.sessionId = *p.sessionId;
  } else if (sessionDue(p, *stat, pass.number)) {
    const bool late = !p.sessionid.isOpen();
    const int error = open(p.sessionid, "sessionid");
    r = error ? ReadResult{0, error} : p.sessionid.read(texts.sessionText);
    if (r.error == ESRCH) return gone();
    // Opened after stat was read: stat once more shows the file is this process's.
    char probe[64];
    if (late && error == 0 && !p.stat.read(probe).ok()) return gone();
    // Kernels without audit support have no sessionid file: session 0 like a system process.
    std::optional<uint32_t> audit = r.ok() ? procfs::parseSessionId({texts.sessionText, r.length}) : std::nullopt;
    facts.sessionId = procfs::reportedSessionId(audit);
    if ((audit && *audit != procfs::kUnsetAuditSession) || r.error == ENOENT) {
      p.sessionId = facts.sessionId;
      p.sessionid.close();
    } else {
      p.sessionReads = std::min(p.sessionReads + 1, kYoungReads);
      p.activityAtSessionRead = activity(*stat);
    }
  }
  return facts;
}

// nullopt when the process has gone (or left an unreadable or garbled stat) while being read.
// A kept stat that fails may mean the process ended and its pid names a new one: that one is
// read from scratch.
std::optional<ProcessFacts> readProcess(const PassContext& pass, CachedProcess& p, ProcessTexts& texts) {
  const bool kept = p.stat.isOpen();
  auto facts = readAttempt(pass, p, texts);
  if (!facts && kept) facts = readAttempt(pass, p, texts);
  p.endPass();
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

// The last listing of the procfs root. A size call answers from it; a listing taken by a size
// call serves the full call right behind it.
struct Listing {
  std::vector<uint32_t> pids;
  std::string root;  // empty: none yet
  bool forFullCall = false;
  std::chrono::steady_clock::time_point at;
};

// How long a size call's listing may wait for its full call.
constexpr auto kListingReuse = std::chrono::milliseconds(100);

// The snapshot's state, shared by every caller. Lock order: `mutex` is a leaf; nothing else
// is locked while it is held.
struct SnapshotState {
  std::mutex mutex;
  Listing listing;
  std::optional<ProcessCache> cache;
  ProcessTexts texts;
  uint64_t passes = 0;

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
  state.listing = Listing{};
  state.processes().reset(limit == kDefaultSnapshotDescriptors ? DescriptorBudget::fromProcessLimit() : limit);
}

size_t snapshotDescriptorsKept() {
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  return state.cache ? state.cache->budget().used() : 0;
}

bool recentProcessIds(const std::string& root, std::vector<uint32_t>& pids) {
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  const Listing& listing = state.listing;
  if (listing.root.empty() || listing.root != root || std::chrono::steady_clock::now() - listing.at >= kListingReuse)
    return false;
  pids = listing.pids;
  return true;
}

NTSTATUS queryProcessSnapshot(PVOID buffer, ULONG length, PULONG returned) {
  const std::string rootPath = procfsRoot();
  SnapshotState& state = snapshotState();
  std::lock_guard lock(state.mutex);
  Listing& listing = state.listing;
  const bool sizeCall = !buffer || length < entrySize(kIdleName.size());

  // The caller's first call comes with no buffer: the last listing gives the size. Processes
  // started since then may need a second full call; that one's answer comes from its own
  // listing.
  if (sizeCall && listing.root == rootPath) return lengthMismatch(upperBound(listing.pids.size()), returned);

  ScopedFd root = openDirectory(rootPath.c_str());
  if (!root.valid()) return STATUS_UNSUCCESSFUL;
  const auto now = std::chrono::steady_clock::now();
  const bool reuse = !sizeCall && listing.forFullCall && listing.root == rootPath && now - listing.at < kListingReuse;
  if (!reuse) {
    listing.root.clear();
    if (listPids(root.get(), listing.pids) != 0) return STATUS_UNSUCCESSFUL;
    listing.root = rootPath;
    listing.at = now;
  }
  listing.forFullCall = sizeCall;
  if (sizeCall) return lengthMismatch(upperBound(listing.pids.size()), returned);

  // Boot time and processor lines serve only creation times and the idle entry: a stat
  // without them costs those figures, not the snapshot.
  auto system = readSystemStat();
  BootTime bootTime;
  if (system.value && system.value->bootTime) bootTime = {true, system.value->bootTime.value_or(0)};

  ProcessCache& cache = state.processes();
  cache.beginPass(root.get(), rootPath);
  cache.align(listing.pids);
  const PassContext pass{root.get(), cache.budget(), !cache.procfs(), swapInUse(), ++state.passes};

  EntryWriter writer(buffer, length);
  writer.append(idleEntry(system.value), kIdleName);
  for (CachedProcess& process : cache.processes()) {
    auto facts = readProcess(pass, process, state.texts);
    if (!facts) continue;
    if (!writer.append(describe(*facts, process.pid, bootTime), facts->stat.comm)) {
      // The bound holds for every listed process; more may have started since.
      return lengthMismatch(std::max(upperBound(listing.pids.size()), size_t{length} + kMaxEntrySize), returned);
    }
  }
  if (returned) *returned = static_cast<ULONG>(writer.used());
  return STATUS_SUCCESS;
}

}  // namespace winapi_linux
