// Non-blocking TCP sockets for the endpoint's event loop: the few calls that differ between
// POSIX sockets and Winsock, behind one interface (linux/net.cpp, windows/net.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vhost {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Owns one socket; closed on destruction.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  SocketHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kNoSocket; }
  SocketHandle release() {
    SocketHandle h = handle_;
    handle_ = kNoSocket;
    return h;
  }
  void reset();

 private:
  SocketHandle handle_ = kNoSocket;
};

// Prepares the socket library once per process; false with a reason when it cannot.
bool startSockets(std::string& error);

// A non-blocking listening socket on host:port (port 0: any free port). The address is never
// shared with another listener: a second runner on it fails here.
Socket listenTcp(const std::string& host, uint16_t port, std::string& error);
// The port a bound socket listens on.
uint16_t boundPort(SocketHandle socket);

enum class AcceptResult { Accepted, Again, Failed };
// One pending connection, made non-blocking.
AcceptResult acceptClient(SocketHandle listener, Socket& client);

enum class NetIo { Ok, WouldBlock, Closed, Failed };
NetIo receiveSome(SocketHandle socket, char* buffer, size_t capacity, size_t& received);
NetIo sendSome(SocketHandle socket, const char* data, size_t size, size_t& sent);
// Half-closes: the peer reads the end of the answer, we may still read what it sends.
void shutdownSending(SocketHandle socket);

struct PollEntry {
  SocketHandle socket = kNoSocket;
  bool wantRead = false, wantWrite = false;
  bool readable = false, writable = false, failed = false;  // set by pollSockets
};
// Waits up to `timeoutMs` for any entry to be ready; false when the wait itself failed.
bool pollSockets(std::vector<PollEntry>& entries, int timeoutMs);

// Wakes a pollSockets wait from another thread: an eventfd on Linux, a loopback datagram socket
// connected to itself on Windows (whose poll takes sockets only).
class Waker {
 public:
  bool open(std::string& error);
  void wake();   // any thread
  void drain();  // the polling thread, once readable
  SocketHandle handle() const { return socket_.get(); }

 private:
  Socket socket_;
};

}  // namespace vhost
