// Human mode's run time: until SIGINT or SIGTERM, or a number of seconds.
#pragma once
#include <cstdint>
#include <optional>

namespace vhost {

// Catches SIGINT and SIGTERM from now on, so a stop request that arrives while the plug-in is
// still starting is kept for waitForStop instead of killing the runner.
void armStopSignals();

// Returns when SIGINT or SIGTERM arrives (or arrived since armStopSignals) or, if given,
// `seconds` have passed. The default signal actions are restored on return.
void waitForStop(std::optional<uint32_t> seconds);

// SIGINT or SIGTERM arrived since armStopSignals; for loops that wait on something else.
bool stopRequested();

// Restores the default signal actions (what waitForStop does on return).
void disarmStopSignals();

}  // namespace vhost
