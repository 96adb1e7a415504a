// Fuzz harness: the net/dev parser on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "procfs/netdev_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& device : winapi_linux::procfs::parseNetDev(text))
    if (device.name.empty()) __builtin_trap();
  return 0;
}
