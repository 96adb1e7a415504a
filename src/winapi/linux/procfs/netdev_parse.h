// Pure parser of the procfs file `net/dev`: one entry per network interface, in file order.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux::procfs {

struct NetDevStat {
  std::string name;
  uint64_t rxBytes = 0, rxPackets = 0, txBytes = 0, txPackets = 0;
};

// The two heading lines and lines that are garbled, cut off or short of the sixteen figures
// are left out; the other interfaces are still read.
LAYER_VISIBLE std::vector<NetDevStat> parseNetDev(std::string_view text);

}  // namespace winapi_linux::procfs
