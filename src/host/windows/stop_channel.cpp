// The stop channel on Windows: the C runtime runs a SIGINT handler on a thread of its own, which
// sets an event the waiting thread watches.
#include "stop_channel.h"

#include <windows.h>

#include <atomic>

namespace vhost {

namespace {

// Auto-reset events, open for the process's life (a handler may set one at any time).
std::atomic<HANDLE> stopEvent{nullptr};
std::atomic<HANDLE> releaseEvent{nullptr};

}  // namespace

void openStopChannel() {
  if (stopEvent.load() != nullptr) return;
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (stop == nullptr || release == nullptr) {  // no channel: waiters return at once
    if (stop != nullptr) CloseHandle(stop);
    if (release != nullptr) CloseHandle(release);
    return;
  }
  releaseEvent.store(release);
  stopEvent.store(stop);
}

void raiseStopChannel() {
  if (HANDLE event = stopEvent.load()) SetEvent(event);
}

void releaseStopChannel() {
  if (HANDLE event = releaseEvent.load()) SetEvent(event);
}

StopChannelEvent waitStopChannel() {
  const HANDLE events[2] = {stopEvent.load(), releaseEvent.load()};
  if (events[0] == nullptr) return StopChannelEvent::Released;
  return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 ? StopChannelEvent::Stop
                                                                             : StopChannelEvent::Released;
}

}  // namespace vhost
