// Physical memory through the platform seam.
#include "metrics/machine_memory.h"

#include "winapi.h"

namespace vhost {

std::optional<FiguresCache::Memory> readMachineMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
  return FiguresCache::Memory{status.ullTotalPhys, status.ullAvailPhys};
}

}  // namespace vhost
