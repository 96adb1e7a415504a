// The channel a stop signal's handler raises and an ordinary thread waits on, so that nothing
// has to poll the stop flag; one implementation per platform (linux/, windows/).
#pragma once

namespace vhost {

enum class StopChannelEvent { Stop, Released };

// Opens the channel once for the process's life; before any handler may raise it.
void openStopChannel();
// From the signal handler: async-signal-safe, never blocks.
void raiseStopChannel();
// Makes one waitStopChannel return Released (for its waiter to end).
void releaseStopChannel();
// Blocks until a stop is raised or the channel released; Released also when it is not open.
// One waiter at a time: each raise or release wakes one wait.
StopChannelEvent waitStopChannel();

}  // namespace vhost
