// Machine-wide procfs files kept open between reads.
#include "procfs/system_files.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

#include <cerrno>
#include <deque>
#include <new>

#include "common/no_destructor.h"
#include "procfs/procfs_files.h"

namespace winapi_linux {

namespace {

// A handful of files are read periodically; a root that names ever new files (it should not)
// gets no more than this kept.
constexpr size_t kMostKept = 32;

struct Kept {
  Kept(std::string p, ScopedFd f) : path(std::move(p)), fd(std::move(f)) {}
  std::string path;
  ScopedFd fd;  // open for the process's life
  std::mutex turn;
};

struct Table {
  std::mutex mutex;        // guards `files`; never held while a file is read
  std::deque<Kept> files;  // a deque: entries never move once made
};

Table& table() {
  static NoDestructor<Table> t;
  return t.get();
}

Kept* find(Table& t, const std::string& path) {
  for (Kept& k : t.files)
    if (k.path == path) return &k;
  return nullptr;
}

bool onProcfs(int fd) {
  struct statfs fs {};
  return ::fstatfs(fd, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

}  // namespace

SystemFile::SystemFile(const std::string& path) {
  try {
    Table& t = table();
    Kept* kept = nullptr;
    {
      std::lock_guard lock(t.mutex);
      kept = find(t, path);
    }
    if (kept == nullptr) {
      ScopedFd fd = openRegularAt(AT_FDCWD, path.c_str());
      if (!fd.valid()) {
        error_ = errno;
        return;
      }
      if (onProcfs(fd.get())) {
        std::lock_guard lock(t.mutex);
        // Another thread may have kept it meanwhile: this read then uses its own descriptor.
        if (find(t, path) == nullptr && t.files.size() < kMostKept) kept = &t.files.emplace_back(path, std::move(fd));
      }
      if (kept == nullptr) {
        owned_ = std::move(fd);
        fd_ = owned_.get();
        return;
      }
    }
    turn_ = std::unique_lock(kept->turn);
    fd_ = kept->fd.get();
  } catch (const std::bad_alloc&) {
    fd_ = -1;
    error_ = ENOMEM;
  }
}

}  // namespace winapi_linux
