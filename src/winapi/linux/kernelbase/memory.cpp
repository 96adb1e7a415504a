// GlobalMemoryStatusEx from `meminfo`; the virtual figures describe the calling process.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

#include "common/config.h"
#include "ntdll/nt_time.h"
#include "procfs/pid_parse.h"
#include "procfs/procfs_files.h"
#include "procfs/procfs_readers.h"
#include "procfs/system_files.h"
#include "winapi.h"

namespace winapi_linux {

namespace {

// User address space of an x86-64 process (47 bits less the guard page).
constexpr DWORDLONG kUserAddressSpace = 0x7FFFFFFFF000ull;

DWORDLONG bytes(uint64_t kb) {
  return kb > std::numeric_limits<DWORDLONG>::max() / 1024 ? std::numeric_limits<DWORDLONG>::max() : kb * 1024;
}

// Kernels before 3.14 have no MemAvailable; free plus reclaimable caches is what it estimates.
std::optional<uint64_t> availableKb(const procfs::Meminfo& m) {
  if (m.memAvailable) return m.memAvailable;
  if (!m.memFree) return std::nullopt;
  return saturatingAdd(*m.memFree, saturatingAdd(m.buffers.value_or(0), m.cached.value_or(0)));
}

// Bytes of address space the calling process has mapped, from <root>/self/statm (the kernel
// makes it far more cheaply than status, which a scrape would otherwise pay for; on a real
// procfs its descriptor is kept, and the file comes whole from one read); 0 when the tree has no
// "self" (fixture trees) or the path cannot even be built.
DWORDLONG ownVirtualSize() noexcept try {
  char text[256];
  const SystemFile file(procfsRoot() + "/self/statm");
  if (file.fd() < 0) return 0;
  ReadResult r = readOpenFileOnce(file.fd(), text);
  if (!r.ok()) return 0;
  auto statm = procfs::parsePidStatm({text, r.length});
  static const uint64_t pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return statm && statm->size <= std::numeric_limits<DWORDLONG>::max() / pageSize ? statm->size * pageSize : 0;
} catch (const std::bad_alloc&) {
  return 0;
}

}  // namespace

}  // namespace winapi_linux

WINAPI_LAYER BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
  using namespace winapi_linux;
  if (!status || status->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto meminfo = readMeminfo();
  if (meminfo.readError) {
    SetLastError(meminfo.readError == EACCES   ? ERROR_ACCESS_DENIED
                 : meminfo.readError == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY
                                               : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const auto& m = meminfo.value;
  std::optional<uint64_t> availKb = m ? availableKb(*m) : std::nullopt;
  if (!m || !m->memTotal || *m->memTotal == 0 || !availKb) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  DWORDLONG total = bytes(*m->memTotal);
  DWORDLONG avail = std::min(bytes(*availKb), total);

  // Integer division of the used share, as Windows rounds it; 128 bits so that × 100 cannot overflow.
  status->dwMemoryLoad = static_cast<DWORD>(static_cast<unsigned __int128>(total - avail) * 100 / total);
  status->ullTotalPhys = total;
  status->ullAvailPhys = avail;
  // The commit limit as Windows sees it: physical memory plus swap.
  status->ullTotalPageFile = saturatingAdd(total, bytes(m->swapTotal.value_or(0)));
  status->ullAvailPageFile = std::min(saturatingAdd(avail, bytes(m->swapFree.value_or(0))), status->ullTotalPageFile);
  status->ullTotalVirtual = kUserAddressSpace;
  status->ullAvailVirtual = kUserAddressSpace - std::min(ownVirtualSize(), kUserAddressSpace);
  status->ullAvailExtendedVirtual = 0;
  return TRUE;
}
