// File access for the procfs readers: owned descriptors and bounded reads relative to a directory.
#include "procfs/procfs_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string_view>

namespace winapi_linux {

ScopedFd openDirectory(const char* path) { return openDirectoryAt(AT_FDCWD, path); }

ScopedFd openDirectoryAt(int dirFd, const char* name) {
  return ScopedFd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

ScopedFd openRegularAt(int dirFd, const char* name) {
  ScopedFd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return fd;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ScopedFd();
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return ScopedFd();
  }
  return fd;
}

namespace {

// pread() from `offset` until the buffer is full or the file ends; procfs may hand out a file
// in pieces. Returns the bytes read, or -errno.
ssize_t readFully(int fd, char* data, size_t size, off_t offset) {
  size_t total = 0;
  while (total < size) {
    ssize_t n = ::pread(fd, data + total, size - total, offset + static_cast<off_t>(total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(total);
}

// The length of the complete lines at the start of `text`.
size_t completeLines(std::string_view text) {
  size_t nl = text.rfind('\n');
  return nl == std::string_view::npos ? 0 : nl + 1;
}

}  // namespace

ReadResult readOpenFile(int fd, std::span<char> buffer) {
  ssize_t n = readFully(fd, buffer.data(), buffer.size(), 0);
  if (n < 0) return {0, static_cast<int>(-n)};
  size_t length = static_cast<size_t>(n);
  // Possibly more to come: keep whole lines only.
  if (length == buffer.size()) length = completeLines({buffer.data(), length});
  return {length, 0};
}

ReadResult readOpenFileOnce(int fd, std::span<char> buffer) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return {0, errno};
  size_t length = static_cast<size_t>(n);
  if (length == buffer.size()) length = completeLines({buffer.data(), length});
  return {length, 0};
}

ReadResult readFileAt(int dirFd, const char* name, std::span<char> buffer) {
  ScopedFd fd = openRegularAt(dirFd, name);
  if (!fd.valid()) return {0, errno};
  return readOpenFile(fd.get(), buffer);
}

int readWholeOpenFile(int fd, std::string& out, size_t limit) noexcept {
  try {
    out.clear();
    size_t used = 0;
    for (;;) {
      if (out.size() - used < 4096) out.resize(std::min(limit, out.size() < 4096 ? size_t{8192} : out.size() * 2));
      ssize_t n = readFully(fd, out.data() + used, out.size() - used, static_cast<off_t>(used));
      if (n < 0) return static_cast<int>(-n);
      used += static_cast<size_t>(n);
      if (used < out.size()) break;  // short read: end of file
      if (used >= limit) {
        used = completeLines({out.data(), used});  // an endless file: what came first
        break;
      }
    }
    out.resize(used);
    return 0;
  } catch (const std::bad_alloc&) {
    out.clear();
    out.shrink_to_fit();
    return ENOMEM;
  }
}

int readWholeFileAt(int dirFd, const char* name, std::string& out, size_t limit) noexcept {
  ScopedFd fd = openRegularAt(dirFd, name);
  if (!fd.valid()) return errno;
  return readWholeOpenFile(fd.get(), out, limit);
}

int readWholeFile(const std::string& path, std::string& out, size_t limit) noexcept {
  return readWholeFileAt(AT_FDCWD, path.c_str(), out, limit);
}

}  // namespace winapi_linux
