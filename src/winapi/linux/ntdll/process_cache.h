// What the process snapshot keeps between passes: per process instance its open procfs files
// and its session id, so that a pass reads only what changes (stat, statm) with pread.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/scoped_fd.h"
#include "procfs/procfs_files.h"

namespace winapi_linux {

// How many descriptors the cache may keep open at once; beyond it files are opened, read and
// closed on every pass.
class DescriptorBudget {
 public:
  explicit DescriptorBudget(size_t limit) : limit_(limit) {}
  bool take() {
    if (used_ >= limit_) return false;
    ++used_;
    return true;
  }
  void give() { --used_; }
  size_t used() const { return used_; }
  size_t limit() const { return limit_; }

  // Raises the soft descriptor limit to the hard one, then allows the cache three quarters of
  // it (leaving at least 1024 to the host), at most kMaxKept: every kept procfs file also
  // holds a page of kernel memory once read.
  static size_t fromProcessLimit();
  static constexpr size_t kMaxKept = 32768;

 private:
  size_t limit_;
  size_t used_ = 0;
};

// One procfs file of a process, kept open between passes while the budget allows. A file
// opened by its path ("<pid>/<name>") belongs to whichever process has that pid at the time;
// the snapshot opens every file it needs before it reads `stat`, so that a successful stat
// read proves they all belong to the process it describes.
class KeptFile {
 public:
  KeptFile() = default;
  KeptFile(KeptFile&& other) noexcept : fd_(std::move(other.fd_)), budget_(other.budget_) { other.budget_ = nullptr; }
  KeptFile& operator=(KeptFile&& other) noexcept;
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;
  ~KeptFile() { close(); }

  // Opens `<pid>/<name>` under `rootFd` unless it is open already; kept when the budget
  // allows, else closed again by endPass(). `anyTree` (trees that are not procfs): only
  // regular files are opened, since a FIFO planted in a tree would block a reader. 0 or the
  // errno of the failed open.
  int open(int rootFd, uint32_t pid, const char* name, DescriptorBudget& budget, bool anyTree);
  // For trees that are not procfs, whose files are replaced rather than ended: closes the
  // file if it was removed since it was opened.
  void closeIfRemoved();
  // Reads the open file from its start (EBADF when it is not open); a file that fails is
  // closed. ESRCH: the process has ended, and its pid may already name another one.
  ReadResult read(std::span<char> buffer);
  bool isOpen() const { return fd_.valid(); }
  bool isKept() const { return budget_ != nullptr; }
  // Closes the file unless it counts against the budget.
  void endPass() {
    if (!budget_) fd_.reset();
  }
  void close();

 private:
  ScopedFd fd_;
  DescriptorBudget* budget_ = nullptr;  // set while fd_ counts against a budget
};

// The state of one process instance (pid + start time).
struct CachedProcess {
  explicit CachedProcess(uint32_t id) : pid(id) {}
  uint32_t pid;
  std::optional<uint64_t> starttime;  // of the instance the files and session belong to
  std::optional<uint32_t> sessionId;  // known for good: set by a login, or no audit support
  // While the session is unset: how often it was read, and the process's activity (CPU
  // ticks and page faults) at the last read.
  uint32_t sessionReads = 0;
  uint64_t activityAtSessionRead = 0;
  KeptFile stat, statm, status, sessionid;

  // Drops everything: the next read starts as for a new process.
  void forget();
  // Forgets the session: another instance under this pid, read through files opened anew.
  void newInstance(uint64_t start);
  void closeRemoved() {
    stat.closeIfRemoved();
    statm.closeIfRemoved();
    status.closeIfRemoved();
    sessionid.closeIfRemoved();
  }
  void endPass() {
    stat.endPass();
    statm.endPass();
    status.endPass();
    sessionid.endPass();
  }
};

// The cached processes in ascending pid order, lined up with each pass's directory list.
class ProcessCache {
 public:
  explicit ProcessCache(size_t descriptorLimit) : budget_(descriptorLimit) {}

  // Forgets every process when `rootFd` (opened from `rootPath`) is another directory than
  // in the last pass, and tells whether it is the kernel's procfs (where a file of an ended
  // process answers ESRCH).
  void beginPass(int rootFd, const std::string& rootPath);
  // Known pids keep their state, new ones start empty, the others are dropped (their files
  // closed). `pids` is ascending. Allocates only when the process count grows.
  void align(const std::vector<uint32_t>& pids);

  std::span<CachedProcess> processes() { return entries_; }
  DescriptorBudget& budget() { return budget_; }
  bool procfs() const { return procfs_; }
  // Drops everything and sets a new descriptor budget.
  void reset(size_t descriptorLimit);

 private:
  std::vector<CachedProcess> entries_, next_;
  DescriptorBudget budget_;
  std::string rootPath_;
  dev_t rootDevice_ = 0;
  ino_t rootInode_ = 0;
  bool procfs_ = false;
};

}  // namespace winapi_linux
