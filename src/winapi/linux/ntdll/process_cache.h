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

// A process's directory, opened on first use within one pass, so that every file opened in
// that pass belongs to the same process even if its pid is reused meanwhile.
class ProcessDirectory {
 public:
  ProcessDirectory(int rootFd, uint32_t pid) : rootFd_(rootFd), pid_(pid) {}
  int get();  // -1 with errno set when the directory is gone

 private:
  int rootFd_;
  uint32_t pid_;
  ScopedFd fd_;
  bool tried_ = false;
};

// One procfs file of a process, kept open between passes while the budget allows.
class KeptFile {
 public:
  KeptFile() = default;
  KeptFile(KeptFile&& other) noexcept : fd_(std::move(other.fd_)), budget_(other.budget_) { other.budget_ = nullptr; }
  KeptFile& operator=(KeptFile&& other) noexcept;
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;
  ~KeptFile() { close(); }

  // Reads the file from its start. A kept descriptor that fails (ESRCH: the process has
  // ended; its pid may already name a new one) or whose file was removed (`checkRemoved`,
  // for trees that are not procfs) is closed and the file opened anew from `dir`.
  ReadResult read(ProcessDirectory& dir, const char* name, std::span<char> buffer, DescriptorBudget& budget,
                  bool checkRemoved);
  bool isOpen() const { return fd_.valid(); }
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
  KeptFile stat, statm, status, sessionid;

  // Drops everything: the next read starts as for a new process.
  void forget();
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
