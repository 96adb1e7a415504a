// Human mode's run time: until SIGINT or SIGTERM, or a number of seconds.
#pragma once
#include <cstdint>
#include <optional>

namespace vhost {

// Returns when SIGINT or SIGTERM arrives or, if given, `seconds` have passed. The default
// signal actions are restored on return.
void waitForStop(std::optional<uint32_t> seconds);

}  // namespace vhost
