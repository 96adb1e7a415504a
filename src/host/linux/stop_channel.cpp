// The stop channel on Linux: a pipe the signal handler writes one byte to (write is
// async-signal-safe), read by the waiting thread.
#include "stop_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vhost {

namespace {

// Lock-free, so the handler may read them; open for the process's life.
std::atomic<int> readEnd{-1};
std::atomic<int> writeEnd{-1};
constexpr char kStop = 's';
constexpr char kRelease = 'r';

void put(char c) {
  const int fd = writeEnd.load();
  if (fd < 0) return;
  // A full pipe (tens of thousands of unread stops) drops this one: the flag is set anyway.
  while (::write(fd, &c, 1) < 0 && errno == EINTR) {
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
  put(kStop);
  errno = saved;
}

void releaseStopChannel() { put(kRelease); }

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
