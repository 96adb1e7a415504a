// Machine-wide procfs files kept open between reads.
#include "procfs/system_files.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/vfs.h>

#include <atomic>
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

// Bumped in a forked child: a "self/..." descriptor kept by the parent names the parent, and a
// kept file's turn may have been held by a parent thread that the child does not have.
std::atomic<unsigned> forks{0};

struct Kept {
  Kept(std::string p, ScopedFd f) : path(std::move(p)), fd(std::move(f)), generation(forks.load()) {}
  std::string path;
  ScopedFd fd;  // open for the process's life
  unsigned generation;  // of the process that kept it
  std::mutex turn;
};

void beforeFork();
void afterForkInParent();
void afterForkInChild();

struct Table {
  std::mutex mutex;        // guards `files`; never held while a file is read
  std::deque<Kept> files;  // a deque: entries never move once made
  // Without fork handlers nothing is kept: a child could not tell its parent's descriptors.
  const bool forkAware = ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) == 0;
};

Table& table() {
  static NoDestructor<Table> t;
  return t.get();
}

// The table's lock is taken across fork, so the child never inherits it held.
void beforeFork() { table().mutex.lock(); }
void afterForkInParent() { table().mutex.unlock(); }
void afterForkInChild() {
  forks.fetch_add(1);
  table().mutex.unlock();
}

Kept* find(Table& t, const std::string& path) {
  const unsigned generation = forks.load();
  for (Kept& k : t.files)
    if (k.generation == generation && k.path == path) return &k;
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
      if (t.forkAware && onProcfs(fd.get())) {
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
