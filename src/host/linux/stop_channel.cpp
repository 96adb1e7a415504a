// The stop channel on Linux: a pipe the signal handler writes one byte to (write is
// async-signal-safe), read by the waiting thread.
#include "stop_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace vhost {

namespace {

// Lock-free, so the handler may read them; open for the process's life.
std::atomic<int> readEnd{-1};
std::atomic<int> writeEnd{-1};
constexpr char kStop = 's';
constexpr char kRelease = 'r';

// False only when the pipe is full (tens of thousands of unread stops).
bool put(char c) {
  const int fd = writeEnd.load();
  if (fd < 0) return true;
  for (;;) {
    if (::write(fd, &c, 1) == 1) return true;
    if (errno != EINTR) return errno != EAGAIN;
  }
}

}  // namespace

void openStopChannel() {
  if (readEnd.load() >= 0) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;  // no channel: waiters return at once
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);       // the handler must never block
  readEnd.store(fds[0]);
  writeEnd.store(fds[1]);
}

void raiseStopChannel() {
  const int saved = errno;  // the interrupted code may be about to look at errno
  (void)put(kStop);         // a full pipe already holds stops to see, and the flag is set
  errno = saved;
}

void releaseStopChannel() {
  // A full pipe is being read by the waiter (it cannot block on it): once there is room, the
  // release goes behind the stops it holds, so the waiter ends and leaves nothing behind.
  while (!put(kRelease)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

StopChannelEvent waitStopChannel() {
  const int fd = readEnd.load();
  if (fd < 0) return StopChannelEvent::Released;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 1) return c == kStop ? StopChannelEvent::Stop : StopChannelEvent::Released;
    if (n < 0 && errno == EINTR) continue;
    return StopChannelEvent::Released;
  }
}

}  // namespace vhost
