// Bounded reads of regular files: opened non-blocking so a FIFO in a tree cannot hang a reader.
#include "procfs/bounded_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/scoped_fd.h"
#include "procfs/procfs_files.h"

namespace winapi_linux {

int readRegularFile(const std::string& path, size_t limit, std::string& out) {
  ScopedFd fd = openRegularAt(AT_FDCWD, path.c_str());  // EINVAL for anything but a regular file
  if (!fd.valid()) return errno;
  return readRegularOpenFile(fd.get(), limit, out);
}

int readRegularOpenFile(int fd, size_t limit, std::string& out) {
  out.clear();
  // procfs files report a size of 0: read in steps until the end, one byte past the limit at
  // most. Most are a few KiB, so the reads go through a buffer on the stack, and only what
  // arrives is copied; once a file fills it, the rest is read straight into `out` in larger
  // steps (growing `out` zero-fills it, which for every small file would cost more than the read).
  char small[8192];
  bool large = false;
  for (;;) {
    const size_t used = out.size();
    const size_t room = std::min(limit + 1 - used, large ? size_t{65536} : sizeof small);
    if (room == 0) return EFBIG;
    char* into = small;
    if (large) {
      out.resize(used + room);
      into = out.data() + used;
    }
    ssize_t n = ::pread(fd, into, room, static_cast<off_t>(used));
    if (large) out.resize(used + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    if (!large) {
      out.append(small, static_cast<size_t>(n));
      large = static_cast<size_t>(n) == sizeof small;
    }
  }
}

}  // namespace winapi_linux
