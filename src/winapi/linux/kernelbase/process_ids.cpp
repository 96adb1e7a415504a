// EnumProcesses: the pids of the procfs root, the idle process (0) first as Windows lists it;
// right after a process snapshot, from the snapshot's own listing.
#include <cerrno>
#include <new>
#include <vector>

#include "common/config.h"
#include "ntdll/system_queries.h"
#include "procfs/pid_listing.h"
#include "procfs/procfs_files.h"
#include "winapi.h"

WINAPI_LAYER BOOL EnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned) try {
  using namespace winapi_linux;
  if ((ids == nullptr && bytes != 0) || bytesReturned == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string rootPath = procfsRoot();
  std::vector<uint32_t> pids;
  if (!recentProcessIds(rootPath, pids)) {
    ScopedFd root = openDirectory(rootPath.c_str());
    if (!root.valid() || listPids(root.get(), pids) != 0) {
      SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
  }
  // As on Windows, a buffer too small gets the first ids; a caller whose buffer came back
  // full asks again with a larger one.
  const size_t room = bytes / sizeof(DWORD);
  size_t written = 0;
  if (room > 0) ids[written++] = 0;
  for (size_t i = 0; i < pids.size() && written < room; ++i) ids[written++] = pids[i];
  *bytesReturned = static_cast<DWORD>(written * sizeof(DWORD));
  return TRUE;
} catch (const std::bad_alloc&) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}
