// The machine's physical memory in bytes, as the plug-in itself reads it.
#pragma once
#include <optional>

#include "metrics/figures_cache.h"

namespace vhost {

// GlobalMemoryStatusEx: total and available physical memory; empty when the call fails.
std::optional<FiguresCache::Memory> readMachineMemory();

}  // namespace vhost
