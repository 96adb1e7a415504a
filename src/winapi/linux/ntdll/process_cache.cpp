// The process snapshot's state between passes: kept procfs files within a descriptor budget.
#include "ntdll/process_cache.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace winapi_linux {

namespace {

constexpr long kProcfsMagic = 0x9fa0;  // PROC_SUPER_MAGIC
constexpr size_t kHostReserve = 1024;

}  // namespace

size_t DescriptorBudget::fromProcessLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return kMaxKept;
  size_t total = static_cast<size_t>(limit.rlim_cur);
  size_t reserve = std::max(kHostReserve, total / 4);
  return total > reserve ? std::min(kMaxKept, total - reserve) : 0;
}

KeptFile& KeptFile::operator=(KeptFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::move(other.fd_);
    budget_ = other.budget_;
    other.budget_ = nullptr;
  }
  return *this;
}

void KeptFile::close() {
  if (budget_ && fd_.valid()) budget_->give();
  budget_ = nullptr;
  fd_.reset();
}

namespace {

bool removedMeanwhile(int fd) {
  struct stat st;
  return ::fstat(fd, &st) != 0 || st.st_nlink == 0;
}

}  // namespace

int KeptFile::open(int rootFd, uint32_t pid, const char* name, DescriptorBudget& budget, bool anyTree) {
  if (fd_.valid()) return 0;
  char path[32];
  std::snprintf(path, sizeof path, "%u/%s", pid, name);
  // procfs holds regular files only; the open needs no check there.
  fd_ = anyTree ? openRegularAt(rootFd, path) : ScopedFd(::openat(rootFd, path, O_RDONLY | O_CLOEXEC));
  if (!fd_.valid()) return errno;
  if (budget.take()) budget_ = &budget;
  return 0;
}

void KeptFile::closeIfRemoved() {
  if (fd_.valid() && removedMeanwhile(fd_.get())) close();
}

ReadResult KeptFile::read(std::span<char> buffer) {
  if (!fd_.valid()) return {0, EBADF};
  ReadResult r = readOpenFileOnce(fd_.get(), buffer);
  if (!r.ok()) close();  // opened anew next time
  return r;
}

void CachedProcess::forget() {
  starttime.reset();
  sessionId.reset();
  sessionReads = 0;
  stat.close();
  statm.close();
  status.close();
  sessionid.close();
}

void CachedProcess::newInstance(uint64_t start) {
  starttime = start;
  sessionId.reset();
  sessionReads = 0;
}

void ProcessCache::beginPass(int rootFd, const std::string& rootPath) {
  struct stat st;
  if (::fstat(rootFd, &st) != 0) st = {};
  if (st.st_dev == rootDevice_ && st.st_ino == rootInode_ && rootPath == rootPath_) return;
  entries_.clear();
  rootPath_ = rootPath;
  rootDevice_ = st.st_dev;
  rootInode_ = st.st_ino;
  struct statfs fs;
  procfs_ = ::fstatfs(rootFd, &fs) == 0 && fs.f_type == kProcfsMagic;
}

void ProcessCache::align(const std::vector<uint32_t>& pids) {
  next_.clear();
  next_.reserve(pids.size());
  size_t old = 0;
  for (uint32_t pid : pids) {
    while (old < entries_.size() && entries_[old].pid < pid) ++old;
    if (old < entries_.size() && entries_[old].pid == pid)
      next_.push_back(std::move(entries_[old++]));
    else
      next_.emplace_back(pid);
  }
  entries_.swap(next_);
  next_.clear();  // closes the files of processes that have gone
}

void ProcessCache::reset(size_t descriptorLimit) {
  entries_.clear();
  next_.clear();
  rootPath_.clear();
  rootDevice_ = 0;
  rootInode_ = 0;
  budget_ = DescriptorBudget(descriptorLimit);
}

}  // namespace winapi_linux
