// Winsock for the endpoint's event loop.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "metrics/net.h"

namespace vhost {

namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

bool wouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR || e == WSAEINPROGRESS; }

bool makeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

std::string errorText(int code) { return "Winsock error " + std::to_string(code); }

}  // namespace

void Socket::reset() {
  if (handle_ != kNoSocket) closesocket(sock(handle_));
  handle_ = kNoSocket;
}

bool startSockets(std::string& error) {
  static const int rc = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (rc != 0) error = "cannot start Winsock: " + errorText(rc);
  return rc == 0;
}

Socket listenTcp(const std::string& host, uint16_t port, std::string& error) {
  if (!startSockets(error)) return Socket();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const std::string where = "cannot listen on " + host + ":" + service;
  if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = where + " (" + errorText(rc) + ")";
    return Socket();
  }
  std::string why = "no address";
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    SOCKET raw = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (raw == INVALID_SOCKET) continue;
    Socket s(static_cast<SocketHandle>(raw));
    // SO_EXCLUSIVEADDRUSE: on Windows SO_REUSEADDR would let another socket take the port over.
    BOOL yes = TRUE;
    setsockopt(raw, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
    if (makeNonBlocking(raw) && ::bind(raw, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0 &&
        ::listen(raw, 128) == 0) {
      freeaddrinfo(found);
      return s;
    }
    why = errorText(WSAGetLastError());
  }
  freeaddrinfo(found);
  error = where + " (" + why + ")";
  return Socket();
}

uint16_t boundPort(SocketHandle socket) {
  sockaddr_storage addr{};
  int len = sizeof addr;
  if (getsockname(sock(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

AcceptResult acceptClient(SocketHandle listener, Socket& client) {
  SOCKET c = ::accept(sock(listener), nullptr, nullptr);
  if (c == INVALID_SOCKET) {
    int e = WSAGetLastError();
    return wouldBlock(e) || e == WSAECONNRESET ? AcceptResult::Again : AcceptResult::Failed;
  }
  client = Socket(static_cast<SocketHandle>(c));
  // An answer goes out as head and body: without this the body waits for the peer's delayed ACK.
  BOOL yes = TRUE;
  setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  return makeNonBlocking(c) ? AcceptResult::Accepted : AcceptResult::Again;
}

NetIo receiveSome(SocketHandle socket, char* buffer, size_t capacity, size_t& received) {
  int n = ::recv(sock(socket), buffer, static_cast<int>(capacity > 1 << 30 ? 1 << 30 : capacity), 0);
  if (n > 0) {
    received = static_cast<size_t>(n);
    return NetIo::Ok;
  }
  if (n == 0) return NetIo::Closed;
  return wouldBlock(WSAGetLastError()) ? NetIo::WouldBlock : NetIo::Failed;
}

NetIo sendSome(SocketHandle socket, const char* data, size_t size, size_t& sent) {
  int n = ::send(sock(socket), data, static_cast<int>(size > 1 << 30 ? 1 << 30 : size), 0);
  if (n >= 0) {
    sent = static_cast<size_t>(n);
    return NetIo::Ok;
  }
  return wouldBlock(WSAGetLastError()) ? NetIo::WouldBlock : NetIo::Failed;
}

void shutdownSending(SocketHandle socket) { ::shutdown(sock(socket), SD_SEND); }

bool pollSockets(std::vector<PollEntry>& entries, int timeoutMs) {
  std::vector<WSAPOLLFD> fds(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    fds[i].fd = sock(entries[i].socket);
    fds[i].events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) | (entries[i].wantWrite ? POLLWRNORM : 0));
  }
  int rc = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  if (rc == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = (fds[i].revents & POLLRDNORM) != 0;
    entries[i].writable = (fds[i].revents & POLLWRNORM) != 0;
    entries[i].failed = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  }
  return true;
}

bool Waker::open(std::string& error) {
  if (!startSockets(error)) return false;
  SOCKET raw = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  socket_ = Socket(raw == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(raw));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (!socket_ || !makeNonBlocking(raw) || ::bind(raw, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(raw, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::connect(raw, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    error = "cannot make the endpoint's wake-up socket: " + errorText(WSAGetLastError());
    return false;
  }
  return true;
}

void Waker::wake() {
  char byte = 1;
  // A full queue already holds a wake-up: nothing is lost when this send fails.
  (void)::send(sock(socket_.get()), &byte, 1, 0);
}

void Waker::drain() {
  char buffer[64];
  while (::recv(sock(socket_.get()), buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace vhost
