// File access for the procfs readers: owned descriptors and reads relative to a directory.
#include "procfs_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace winapi_linux {

ScopedFd openDirectory(const char* path) { return openDirectoryAt(AT_FDCWD, path); }

ScopedFd openDirectoryAt(int dirFd, const char* name) {
  return ScopedFd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

namespace {

// read() until the buffer is full or the file ends; procfs may hand out a file in pieces.
// Returns the bytes read, or -errno.
ssize_t readFully(int fd, char* data, size_t size) {
  size_t total = 0;
  while (total < size) {
    ssize_t n = ::read(fd, data + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(total);
}

}  // namespace

ReadResult readFileAt(int dirFd, const char* name, std::span<char> buffer) {
  ScopedFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return {0, errno};
  ssize_t n = readFully(fd.get(), buffer.data(), buffer.size());
  if (n < 0) return {0, static_cast<int>(-n)};
  size_t length = static_cast<size_t>(n);
  if (length == buffer.size()) {
    // Possibly more to come: keep whole lines only.
    size_t nl = std::string_view(buffer.data(), length).rfind('\n');
    length = nl == std::string_view::npos ? 0 : nl + 1;
  }
  return {length, 0};
}

int readWholeFileAt(int dirFd, const char* name, std::string& out) {
  ScopedFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  out.clear();
  size_t used = 0;
  for (;;) {
    if (out.size() - used < 4096) out.resize(out.size() < 4096 ? 8192 : out.size() * 2);
    ssize_t n = readFully(fd.get(), out.data() + used, out.size() - used);
    if (n < 0) return static_cast<int>(-n);
    used += static_cast<size_t>(n);
    if (used < out.size()) break;  // short read: end of file
  }
  out.resize(used);
  return 0;
}

int readWholeFile(const std::string& path, std::string& out) { return readWholeFileAt(AT_FDCWD, path.c_str(), out); }

}  // namespace winapi_linux
