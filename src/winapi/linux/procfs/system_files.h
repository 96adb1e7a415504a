// Machine-wide procfs files (stat, meminfo, vmstat, ...) and the caller's own, kept open between reads.
#pragma once
#include <mutex>
#include <string>

#include "common/layer_visible.h"
#include "common/scoped_fd.h"

namespace winapi_linux {

// A machine-wide file open for one read from offset 0 (with pread). On a real procfs the
// descriptor is kept for later reads: procfs makes such a file's text afresh on every read from
// offset 0 and never replaces the file, so a later read costs one pread instead of an open, an
// fstat, the read and a close. A file on any other file system (a fixture tree, which may be
// rewritten) is opened for this read alone. Readers of one kept file take turns while the object
// lives, so a file read in pieces is never joined from two generations of its text.
// For machine-wide files and the caller's own "self/..." files, never another pid's (a kept
// descriptor would outlive that process and miss the next one to get its pid). What a process
// kept is not used by a child it forks: the child opens and keeps its own.
class SystemFile {
 public:
  // Regular files only, like openRegularAt; errno of a failed open in error().
  LAYER_VISIBLE explicit SystemFile(const std::string& path);
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  int fd() const { return fd_; }  // -1 when the open failed
  int error() const { return error_; }
  bool kept() const { return turn_.owns_lock(); }

 private:
  ScopedFd owned_;
  int fd_ = -1;
  int error_ = 0;
  std::unique_lock<std::mutex> turn_;
};

}  // namespace winapi_linux
