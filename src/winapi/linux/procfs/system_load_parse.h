// Pure parsers of the procfs files `vmstat`, `loadavg` and `uptime`.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/layer_visible.h"

namespace winapi_linux::procfs {

// The `vmstat` figures the layer uses (events and pages since boot).
struct Vmstat {
  std::optional<uint64_t> pgfault, pswpin, pswpout;
};
// Empty text is nullopt; a garbled line of a field above leaves that field empty.
LAYER_VISIBLE std::optional<Vmstat> parseVmstat(std::string_view text);

// "1.00 0.50 0.25 running/total lastpid": the runnable and the total scheduling entities.
struct Loadavg {
  uint64_t running = 0, total = 0;
};
LAYER_VISIBLE std::optional<Loadavg> parseLoadavg(std::string_view text);

// The first figure of `uptime` ("12345.67 ..."), in hundredths of a second.
LAYER_VISIBLE std::optional<uint64_t> parseUptime(std::string_view text);

}  // namespace winapi_linux::procfs
