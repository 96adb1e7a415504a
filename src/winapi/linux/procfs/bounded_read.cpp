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
  // most. Steps of 8 KiB: most files are a few KiB, and growing `out` zero-fills it.
  size_t used = 0;
  for (;;) {
    size_t room = std::min(limit + 1 - used, size_t{8192});
    if (room == 0) return EFBIG;
    if (out.size() < used + room) out.resize(used + room);
    ssize_t n = ::pread(fd, out.data() + used, room, static_cast<off_t>(used));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  out.resize(used);
  return 0;
}

}  // namespace winapi_linux
