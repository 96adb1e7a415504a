// The process directories of a procfs root: their numeric names, from one directory listing.
#pragma once
#include <cstdint>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux {

// The pids named by the directories of the open root `rootFd`, ascending (procfs lists them
// in order already; other trees are sorted). Reads from the start of the directory whatever
// was read before, and uses getdents64 directly so that no DIR stream is made per listing.
// Returns 0 or the errno of the failed seek or read.
LAYER_VISIBLE int listPids(int rootFd, std::vector<uint32_t>& pids);

}  // namespace winapi_linux
