// File-system side of the registry: key directories reached without following links, value
// files and their atomic replacement.
//
// Replacing a value: the new content goes into a spare file beside the value (hidden,
// ".prev.<file name>"), which then trades places with the value's file in one rename
// (RENAME_EXCHANGE); the file it replaced becomes the spare of the next write. Reusing the
// spare's inode is what makes a write cheap: a new inode per write (create, then the old one
// freed) costs the file system far more than the write itself. The spare is rewritten only under
// a write lease, which the kernel grants only while no one else has the file open and which makes
// an open during the rewrite wait for its end: a reader that opened the file while it was the
// value never sees it change. Writers of one key take a flock on its directory, so they replace
// its values one at a time. Where a step is not available (no lease for a file of another owner,
// a file system without exchange or flock, a name too long for its spare), the write falls back
// to a new file renamed over the value.
#include "advapi32/registry_store.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "advapi32/registry_names.h"
#include "common/scoped_dir.h"
#include "common/wide_text.h"

namespace winapi_linux::registry_store {
namespace {

enum class Kind { Key, Value };

LONG fromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ELOOP: return ERROR_FILE_NOT_FOUND;  // a link under the root is no key and no value
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EISDIR, ENOSPC, EIO, ...
  }
}

// The errors of a step that is missing, a link or no directory: the key is absent.
bool absent(int error) { return error == ENOENT || error == ELOOP || error == ENOTDIR; }

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool isKind(int dir, const std::string& name, Kind kind) {
  struct stat st {};
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return kind == Kind::Key ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
}

// `relative` below `base` in one call where the kernel resolves paths beneath a directory
// (Linux 5.6): -1 with errno, or -2 when the call is not available.
int openBeneathAtOnce(int base, const char* relative) {
  static std::atomic<bool> unavailable{false};
  if (unavailable.load(std::memory_order_relaxed)) return -2;
  open_how how{};
  how.flags = kDirectoryFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd = syscall(SYS_openat2, base, relative, &how, sizeof how);
  if (fd >= 0) return static_cast<int>(fd);
  // ENOSYS before 5.6; EPERM from a seccomp filter that does not know the call.
  if (errno != ENOSYS && errno != EPERM && errno != EINVAL && errno != E2BIG) return -1;
  unavailable.store(true, std::memory_order_relaxed);
  return -2;
}

// The directory `relative` ("a/b/c") below `base`, no step of it a link; -1 with errno.
int openBeneath(int base, const std::string& relative) {
  if (relative.empty()) return openat(base, ".", kDirectoryFlags);
  int fd = openBeneathAtOnce(base, relative.c_str());
  if (fd != -2) return fd;
  ScopedFd current;
  for (size_t start = 0; start <= relative.size();) {
    size_t end = std::min(relative.find('/', start), relative.size());
    const std::string step = relative.substr(start, end - start);
    if (step.empty() || step == "." || step == "..") {
      errno = ENOENT;
      return -1;
    }
    current.reset(openat(current.valid() ? current.get() : base, step.c_str(), kDirectoryFlags | O_NOFOLLOW));
    if (!current.valid()) return -1;
    start = end + 1;
  }
  return current.release();
}

// Calls visit(fileName, decodedName) for every entry that is a name of the registry.
template <class Visit>
LONG forEachName(int dir, Visit visit) {
  int fd = openat(dir, ".", kDirectoryFlags);
  if (fd < 0) return errno == ENOENT ? ERROR_KEY_DELETED : fromErrno(errno);
  ScopedDir handle(fdopendir(fd));
  if (!handle) {
    close(fd);
    return fromErrno(errno);
  }
  while (dirent* entry = readdir(handle.get())) {
    std::string_view fileName = entry->d_name;
    if (registry_names::isHidden(fileName)) continue;
    auto name = wide_text::fromUtf8(registry_names::decode(fileName));
    if (!name) continue;  // not a name this registry could have written
    visit(std::string(fileName), *name);
  }
  return ERROR_SUCCESS;
}

// A NUL cannot be part of a name: the Win32 calls end names there, so accepting one here would
// let "name<NUL>tail" and "name" alias.
bool validName(std::wstring_view name) { return name.find(L'\0') == std::wstring_view::npos; }

// The file name of the entry called `name` (empty when there is none).
LONG findEntry(int dir, std::wstring_view name, Kind kind, std::string& fileName) {
  fileName.clear();
  if (!validName(name)) return ERROR_INVALID_PARAMETER;
  auto utf8 = wide_text::toUtf8(name);
  if (!utf8) return ERROR_INVALID_PARAMETER;
  std::string exact = registry_names::encode(*utf8);
  if (isKind(dir, exact, kind)) {
    fileName = exact;
    return ERROR_SUCCESS;
  }
  // Another spelling of the name; of several, the first in byte order, so the choice is stable.
  return forEachName(dir, [&](const std::string& candidate, const std::wstring& decoded) {
    if (!registry_names::sameName(decoded, name)) return;
    if (!fileName.empty() && candidate >= fileName) return;
    if (isKind(dir, candidate, kind)) fileName = candidate;
  });
}

LONG makeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return fromErrno(errno);
    if (slash == std::string::npos) return ERROR_SUCCESS;
  }
}

std::vector<std::wstring_view> components(std::wstring_view path) {
  std::vector<std::wstring_view> out;
  while (!path.empty()) {
    size_t end = path.find(L'\\');
    if (end != 0) out.push_back(path.substr(0, end));
    path.remove_prefix(end == std::wstring_view::npos ? path.size() : end + 1);
  }
  return out;
}

LONG readFile(int dir, const std::string& fileName, std::string& content) {
  // O_NONBLOCK: a FIFO planted under the name must not stall the reader; it is refused below.
  ScopedFd fd(openat(dir, fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fromErrno(errno);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return fromErrno(errno);
  if (!S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  // Larger files were not written by this registry: refused rather than read into memory.
  if (st.st_size > static_cast<off_t>(registry_format::kMaxContent)) return ERROR_INVALID_DATA;
  content.clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fromErrno(errno);
    if (n == 0) return ERROR_SUCCESS;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > registry_format::kMaxContent) return ERROR_INVALID_DATA;
  }
}

bool writeAll(int fd, std::string_view data) {
  for (off_t at = 0; !data.empty();) {
    ssize_t n = pwrite(fd, data.data(), data.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
    at += n;
  }
  return true;
}

std::string spareName(const std::string& fileName) { return ".prev." + fileName; }

// Exclusive hold of a key directory's flock, through the caller's own descriptor of it (its own
// open file description, so threads exclude each other as processes do). Not held where the
// file system has no flock.
class DirectoryLock {
 public:
  explicit DirectoryLock(int dir) {
    int rc;
    while ((rc = flock(dir, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc == 0) dir_ = dir;
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  ~DirectoryLock() {
    if (held()) flock(dir_, LOCK_UN);
  }
  bool held() const { return dir_ >= 0; }

 private:
  int dir_ = -1;
};

// Rewrites the spare of `fileName` under a write lease and trades it for the value's file.
// false when the spare cannot be used safely; nothing visible changed then.
bool replaceThroughSpare(int dir, const std::string& fileName, std::string_view content) {
  const std::string spare = spareName(fileName);
  ScopedFd fd(openat(dir, spare.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return false;
  struct stat st {};
  // A file linked elsewhere too is not this registry's spare: it is never written through.
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  // Taking the lease makes this process the owner told of lease breaks (an open by someone else
  // during the rewrite). That signal is turned off right after; the one that a break in between
  // would send is SIGURG, which a process ignores unless it asked for it.
  if (fcntl(fd.get(), F_SETSIG, SIGURG) != 0) return false;
  if (fcntl(fd.get(), F_SETLEASE, F_WRLCK) != 0) return false;  // someone has it open
  fcntl(fd.get(), F_SETOWN, 0);
  const auto size = static_cast<off_t>(content.size());
  const bool written = writeAll(fd.get(), content) && (st.st_size <= size || ftruncate(fd.get(), size) == 0);
  fcntl(fd.get(), F_SETLEASE, F_UNLCK);
  return written && renameat2(dir, spare.c_str(), dir, fileName.c_str(), RENAME_EXCHANGE) == 0;
}

// A new file with the content, at the spare's name when `spare` allows (the caller holds the
// directory's lock), else at a name of its own; removed unless it was renamed into place.
class NewFile {
 public:
  NewFile(int dir, const std::string& spare) : dir_(dir) {
    if (!spare.empty()) {
      unlinkat(dir, spare.c_str(), 0);
      create(spare);
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; !fd_.valid() && attempt < 16; ++attempt) {
      const std::string name = ".tmp." + std::to_string(getpid()) + "." + std::to_string(++serial);
      if (!create(name) && errno != EEXIST) break;
    }
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    if (!name_.empty()) unlinkat(dir_, name_.c_str(), 0);
  }
  bool valid() const { return fd_.valid(); }
  int error() const { return error_; }
  const std::string& name() const { return name_; }
  int fd() const { return fd_.get(); }
  void placed() { name_.clear(); }

 private:
  bool create(const std::string& name) {
    fd_.reset(openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd_.valid()) {
      error_ = errno;
      return false;
    }
    name_ = name;
    return true;
  }

  int dir_;
  int error_ = 0;
  std::string name_;
  ScopedFd fd_;
};

}  // namespace

LONG openDirectory(const std::string& root, const std::string& relative, bool create, ScopedFd& dir) {
  ScopedFd rootDir(open(root.c_str(), kDirectoryFlags));
  if (!rootDir.valid() && errno == ENOENT && create) {
    if (LONG rc = makeDirectories(root)) return rc;
    rootDir.reset(open(root.c_str(), kDirectoryFlags));
  }
  if (!rootDir.valid()) return absent(errno) ? ERROR_FILE_NOT_FOUND : fromErrno(errno);
  dir.reset(openBeneath(rootDir.get(), relative));
  if (dir.valid()) return ERROR_SUCCESS;
  if (!absent(errno)) return fromErrno(errno);
  if (!create) return ERROR_FILE_NOT_FOUND;
  // Made step by step; a step held by a link or a file is refused.
  ScopedFd current = std::move(rootDir);
  for (size_t start = 0; start <= relative.size();) {
    size_t end = std::min(relative.find('/', start), relative.size());
    const std::string step = relative.substr(start, end - start);
    if (step.empty() || step == "." || step == "..") return ERROR_INVALID_PARAMETER;
    if (mkdirat(current.get(), step.c_str(), 0755) != 0 && errno != EEXIST) return fromErrno(errno);
    current.reset(openat(current.get(), step.c_str(), kDirectoryFlags | O_NOFOLLOW));
    if (!current.valid()) return absent(errno) ? ERROR_ACCESS_DENIED : fromErrno(errno);
    start = end + 1;
  }
  dir = std::move(current);
  return ERROR_SUCCESS;
}

LONG openKey(int base, std::wstring_view subKey, bool create, ScopedFd& dir, std::string& relative, bool* created) {
  if (created) *created = false;
  const std::vector<std::wstring_view> names = components(subKey);
  // Checked before anything is made, so a bad name deep in the path leaves nothing behind.
  std::string exact;
  for (std::wstring_view name : names) {
    auto utf8 = validName(name) ? wide_text::toUtf8(name) : std::nullopt;
    if (!utf8) return ERROR_INVALID_PARAMETER;
    exact += (exact.empty() ? "" : "/") + registry_names::encode(*utf8);
  }
  auto join = [&relative](const std::string& tail) {
    if (!tail.empty()) relative += (relative.empty() ? "" : "/") + tail;
  };
  // Every key there already, in the caller's spelling: one call.
  if (int fd = openBeneath(base, exact); fd >= 0) {
    dir.reset(fd);
    join(exact);
    return ERROR_SUCCESS;
  }
  ScopedFd current(openat(base, ".", kDirectoryFlags));
  if (!current.valid()) return absent(errno) ? ERROR_FILE_NOT_FOUND : fromErrno(errno);
  // Keys this call made (parent, name), removed again (deepest first) when a later step fails.
  // Removing a directory only succeeds while it is empty, so a key another writer filled stays.
  std::vector<std::pair<ScopedFd, std::string>> made;
  auto fail = [&made](LONG rc) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) unlinkat(it->first.get(), it->second.c_str(), AT_REMOVEDIR);
    return rc;
  };
  std::string path;
  for (std::wstring_view name : names) {
    std::string fileName;
    LONG rc = findEntry(current.get(), name, Kind::Key, fileName);
    if (rc == ERROR_KEY_DELETED) rc = ERROR_FILE_NOT_FOUND;
    if (rc != ERROR_SUCCESS) return fail(rc);
    bool isNew = false;
    if (fileName.empty()) {
      if (!create) return fail(ERROR_FILE_NOT_FOUND);
      fileName = registry_names::encode(*wide_text::toUtf8(name));
      // EEXIST: another writer made the key a moment ago, or a link or a value holds the name
      // (refused when it is opened below).
      if (mkdirat(current.get(), fileName.c_str(), 0755) == 0) isNew = true;
      else if (errno != EEXIST) return fail(fromErrno(errno));
    }
    ScopedFd next(openat(current.get(), fileName.c_str(), kDirectoryFlags | O_NOFOLLOW));
    if (!next.valid()) {
      const int error = errno;
      return fail(!absent(error) ? fromErrno(error) : create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    }
    if (isNew) made.emplace_back(std::move(current), fileName);
    if (created) *created = isNew;
    path += (path.empty() ? "" : "/") + fileName;
    current = std::move(next);
  }
  dir = std::move(current);
  join(path);
  return ERROR_SUCCESS;
}

LONG readValue(int keyDir, std::wstring_view name, registry_format::Value& value) {
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  if (fileName.empty()) return ERROR_FILE_NOT_FOUND;
  std::string content;
  if (LONG rc = readFile(keyDir, fileName, content)) return rc;
  auto parsed = registry_format::parse(content);
  if (!parsed) return ERROR_INVALID_DATA;
  value = std::move(*parsed);
  return ERROR_SUCCESS;
}

LONG writeValue(int keyDir, std::wstring_view name, const registry_format::Value& value) {
  auto content = registry_format::format(value);
  if (!content) return ERROR_INVALID_PARAMETER;
  if (content->size() > registry_format::kMaxContent) return ERROR_FILE_TOO_LARGE;
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  // A new value takes the caller's spelling; an existing one keeps its own. A link holding the
  // name is no value: it is replaced, never written through.
  const bool exists = !fileName.empty();
  if (!exists) fileName = registry_names::encode(*wide_text::toUtf8(name));
  DirectoryLock lock(keyDir);
  if (lock.held() && exists && replaceThroughSpare(keyDir, fileName, *content)) return ERROR_SUCCESS;

  NewFile file(keyDir, lock.held() ? spareName(fileName) : std::string());
  if (!file.valid()) return file.error() == ENOENT ? ERROR_KEY_DELETED : fromErrno(file.error());
  if (!writeAll(file.fd(), *content)) return fromErrno(errno);
  // The value's file, kept as the next write's spare where the exchange is possible.
  if (exists && file.name() == spareName(fileName) &&
      renameat2(keyDir, file.name().c_str(), keyDir, fileName.c_str(), RENAME_EXCHANGE) == 0) {
    file.placed();
    return ERROR_SUCCESS;
  }
  if (renameat(keyDir, file.name().c_str(), keyDir, fileName.c_str()) != 0) return fromErrno(errno);
  file.placed();
  return ERROR_SUCCESS;
}

LONG deleteValue(int keyDir, std::wstring_view name) {
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  if (fileName.empty()) return ERROR_FILE_NOT_FOUND;
  if (unlinkat(keyDir, fileName.c_str(), 0) != 0) return fromErrno(errno);
  unlinkat(keyDir, spareName(fileName).c_str(), 0);
  return ERROR_SUCCESS;
}

LONG listValues(int keyDir, std::vector<std::wstring>& names) {
  std::vector<std::pair<std::wstring, std::wstring>> found;  // (sort key, name)
  LONG rc = forEachName(keyDir, [&](const std::string& fileName, const std::wstring& name) {
    if (isKind(keyDir, fileName, Kind::Value)) found.emplace_back(registry_names::upperCase(name), name);
  });
  if (rc) return rc;
  std::sort(found.begin(), found.end());
  names.clear();
  for (auto& entry : found) names.push_back(std::move(entry.second));
  return ERROR_SUCCESS;
}

}  // namespace winapi_linux::registry_store
