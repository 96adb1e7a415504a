// serviceStopping: the flag the service's destruction sets first, read by the watch's timer thread.
#pragma once
#include <atomic>

// Set once the service begins to go down and never cleared; a tick that sees it does nothing,
// and a pass failing meanwhile logs nothing. Atomic: written on the tearing-down thread, read
// on the timer thread.
extern std::atomic<bool> serviceStopping;
