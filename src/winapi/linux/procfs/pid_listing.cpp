// Listing the process directories of a procfs root.
#include "procfs/pid_listing.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "procfs/procfs_text.h"

namespace winapi_linux {

int listPids(int rootFd, std::vector<uint32_t>& pids) {
  pids.clear();
  if (::lseek(rootFd, 0, SEEK_SET) < 0) return errno;
  alignas(dirent64) char buf[16384];
  for (;;) {
    ssize_t n = ::getdents64(rootFd, buf, sizeof buf);
    if (n < 0) return errno;
    if (n == 0) break;
    for (ssize_t off = 0; off < n;) {
      auto* d = reinterpret_cast<dirent64*>(buf + off);
      off += d->d_reclen;
      if (d->d_type != DT_DIR && d->d_type != DT_UNKNOWN) continue;
      if (d->d_name[0] < '1' || d->d_name[0] > '9') continue;  // also skips "0" and ".."
      if (auto pid = procfs::parseNumber<uint32_t>(d->d_name)) pids.push_back(*pid);
    }
  }
  if (!std::is_sorted(pids.begin(), pids.end())) std::sort(pids.begin(), pids.end());
  return 0;
}

}  // namespace winapi_linux
