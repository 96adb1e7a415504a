// POSIX sockets for the endpoint's event loop.
#include "metrics/net.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vhost {

namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

}  // namespace

void Socket::reset() {
  if (handle_ != kNoSocket) ::close(fd(handle_));
  handle_ = kNoSocket;
}

bool startSockets(std::string&) { return true; }

Socket listenTcp(const std::string& host, uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const std::string where = "cannot listen on " + host + ":" + service;
  if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = where + " (" + gai_strerror(rc) + ")";
    return Socket();
  }
  std::string why = "no address";
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    Socket s(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
    if (!s) continue;
    // Rebinding past TIME_WAIT after a restart, but no SO_REUSEPORT sharing of the port.
    int yes = 1;
    setsockopt(fd(s.get()), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd(s.get()), ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd(s.get()), 128) == 0) {
      freeaddrinfo(found);
      return s;
    }
    why = std::strerror(errno);
  }
  freeaddrinfo(found);
  error = where + " (" + why + ")";
  return Socket();
}

uint16_t boundPort(SocketHandle socket) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

AcceptResult acceptClient(SocketHandle listener, Socket& client) {
  int c = ::accept4(fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (c < 0) return wouldBlock(errno) || errno == ECONNABORTED ? AcceptResult::Again : AcceptResult::Failed;
  // An answer goes out as head and body: without this the body waits for the peer's delayed ACK.
  int yes = 1;
  setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  client = Socket(c);
  return AcceptResult::Accepted;
}

NetIo receiveSome(SocketHandle socket, char* buffer, size_t capacity, size_t& received) {
  ssize_t n = ::recv(fd(socket), buffer, capacity, 0);
  if (n > 0) {
    received = static_cast<size_t>(n);
    return NetIo::Ok;
  }
  if (n == 0) return NetIo::Closed;
  return wouldBlock(errno) ? NetIo::WouldBlock : NetIo::Failed;
}

NetIo sendSome(SocketHandle socket, const char* data, size_t size, size_t& sent) {
  ssize_t n = ::send(fd(socket), data, size, MSG_NOSIGNAL);
  if (n >= 0) {
    sent = static_cast<size_t>(n);
    return NetIo::Ok;
  }
  return wouldBlock(errno) ? NetIo::WouldBlock : NetIo::Failed;
}

void shutdownSending(SocketHandle socket) { ::shutdown(fd(socket), SHUT_WR); }

bool pollSockets(std::vector<PollEntry>& entries, int timeoutMs) {
  std::vector<pollfd> fds(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    fds[i].fd = fd(entries[i].socket);
    fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
  }
  int rc = ::poll(fds.data(), fds.size(), timeoutMs);
  if (rc < 0) return errno == EINTR;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = (fds[i].revents & POLLIN) != 0;
    entries[i].writable = (fds[i].revents & POLLOUT) != 0;
    entries[i].failed = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  }
  return true;
}

// An eventfd: one descriptor, and a wake-up is a counter write rather than a datagram
// through the loopback network stack.
bool Waker::open(std::string& error) {
  socket_ = Socket(static_cast<SocketHandle>(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)));
  if (!socket_) {
    error = std::string("cannot make the endpoint's wake-up descriptor: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void Waker::wake() {
  // Fails only when the counter would overflow, which means a wake-up is pending anyway.
  (void)::eventfd_write(fd(socket_.get()), 1);
}

void Waker::drain() {
  eventfd_t pending = 0;
  (void)::eventfd_read(fd(socket_.get()), &pending);  // one read takes every wake-up
}

}  // namespace vhost
