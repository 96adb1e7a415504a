// The process snapshot (information class 5): the idle process, then one entry per process
// directory of the procfs root, in the published 64-bit entry layout.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "config.h"
#include "nt_layout.h"
#include "nt_time.h"
#include "pid_parse.h"
#include "procfs_files.h"
#include "procfs_readers.h"
#include "procfs_text.h"
#include "system_queries.h"
#include "wide_text.h"

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
  std::sort(pids.begin(), pids.end());
  return 0;
}

size_t upperBound(size_t processes) { return entrySize(kIdleName.size()) + processes * kMaxEntrySize; }

// Everything about one process that goes into its entry, read through its directory so that
// all files belong to the same process even if its pid is reused meanwhile.
struct ProcessFacts {
  procfs::PidStat stat;
  procfs::PidStatus status;
  uint32_t sessionId = 0;
};

// Stack buffers for one process's files; the parsed stat's name points into statText.
struct ProcessTexts {
  char statText[4096];
  char statusText[8192];
  char sessionText[32];
};

// nullopt when the process has gone (or left unreadable or empty files) while being read.
std::optional<ProcessFacts> readProcess(int rootFd, uint32_t pid, ProcessTexts& texts) {
  char name[16];
  std::snprintf(name, sizeof name, "%u", pid);
  ScopedFd dir = openDirectoryAt(rootFd, name);
  if (!dir.valid()) return std::nullopt;

  ReadResult r = readFileAt(dir.get(), "stat", texts.statText);
  if (!r.ok()) return std::nullopt;
  auto stat = procfs::parsePidStat(std::string_view(texts.statText, r.length));
  if (!stat) return std::nullopt;

  r = readFileAt(dir.get(), "status", texts.statusText);
  if (!r.ok()) return std::nullopt;
  auto status = procfs::parsePidStatus(std::string_view(texts.statusText, r.length));
  if (!status) return std::nullopt;

  ProcessFacts facts{*stat, *status, 0};
  // Kernels without audit support have no sessionid file: session 0 like a system process.
  r = readFileAt(dir.get(), "sessionid", texts.sessionText);
  if (r.ok()) facts.sessionId = procfs::reportedSessionId(procfs::parseSessionId({texts.sessionText, r.length}));
  return facts;
}

nt::ProcessEntry describe(const ProcessFacts& p, uint32_t pid, uint64_t bootTime) {
  static const uint64_t pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const procfs::PidStat& s = p.stat;
  const procfs::PidStatus& st = p.status;
  nt::ProcessEntry e{};
  e.NumberOfThreads = clampUlong(s.numThreads);
  e.NumberOfThreadsHighWatermark = e.NumberOfThreads;
  e.WorkingSetPrivateSize =
      static_cast<LONGLONG>(std::min<SIZE_T>(kilobytes(st.rssAnon), std::numeric_limits<LONGLONG>::max()));
  e.HardFaultCount = low32(s.majflt);
  e.CreateTime = unixTimeToFiletime(bootTime, s.starttime);
  e.UserTime = ticksToNtTime(s.utime);
  e.KernelTime = ticksToNtTime(s.stime);
  e.BasePriority = basePriority(s);
  e.UniqueProcessId = reinterpret_cast<HANDLE>(uintptr_t{pid});
  e.InheritedFromUniqueProcessId = reinterpret_cast<HANDLE>(uintptr_t{clampUlong(s.ppid)});
  e.SessionId = p.sessionId;
  e.VirtualSize = s.vsize;
  e.PeakVirtualSize = st.vmPeak ? kilobytes(st.vmPeak) : s.vsize;
  e.PageFaultCount = low32(s.minflt + s.majflt);
  e.WorkingSetSize = st.vmRss ? kilobytes(st.vmRss) : static_cast<SIZE_T>(std::max<int64_t>(s.rssPages, 0)) * pageSize;
  e.PeakWorkingSetSize = st.vmHwm ? kilobytes(st.vmHwm) : e.WorkingSetSize;
  // Private bytes: anonymous memory, resident or swapped out. Windows reports the same commit
  // charge as page-file usage; Linux keeps no peak of it.
  SIZE_T anon = kilobytes(st.rssAnon), swap = kilobytes(st.vmSwap);
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

}  // namespace

NTSTATUS queryProcessSnapshot(PVOID buffer, ULONG length, PULONG returned) {
  ScopedFd root = openDirectory(procfsRoot().c_str());
  if (!root.valid()) return STATUS_UNSUCCESSFUL;
  thread_local std::vector<uint32_t> pids;
  if (listPids(root.get(), pids) != 0) return STATUS_UNSUCCESSFUL;

  // The caller's first call comes with no buffer: answer from the directory alone.
  if (!buffer || length < entrySize(kIdleName.size())) return lengthMismatch(upperBound(pids.size()), returned);

  auto system = readSystemStat();
  if (!system.value || !system.value->bootTime) return STATUS_UNSUCCESSFUL;
  const uint64_t bootTime = *system.value->bootTime;

  // The idle process: one thread per processor and, as on Windows, their idle time as its
  // kernel time.
  nt::ProcessEntry idle{};
  uint64_t idleTicks = 0;
  for (const procfs::CpuTicks& c : system.value->cpus)
    idleTicks = saturatingAdd(idleTicks, saturatingAdd(c.idle, c.iowait));
  idle.KernelTime = ticksToNtTime(idleTicks);
  idle.NumberOfThreads = clampUlong(static_cast<int64_t>(system.value->cpus.size()));

  EntryWriter writer(buffer, length);
  writer.append(idle, kIdleName);
  ProcessTexts texts;
  for (uint32_t pid : pids) {
    auto facts = readProcess(root.get(), pid, texts);
    if (!facts) continue;
    if (!writer.append(describe(*facts, pid, bootTime), facts->stat.comm)) {
      // The bound holds for every listed process; more may have started since.
      return lengthMismatch(std::max(upperBound(pids.size()), size_t{length} + kMaxEntrySize), returned);
    }
  }
  if (returned) *returned = static_cast<ULONG>(writer.used());
  return STATUS_SUCCESS;
}

}  // namespace winapi_linux
