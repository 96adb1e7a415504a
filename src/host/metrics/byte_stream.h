// A connection's byte stream as the event loop sees it: plain TCP or TLS over a non-blocking socket.
#pragma once
#include <cstddef>
#include <memory>

#include "metrics/net.h"

namespace vhost {

enum class StreamIo {
  Ok,         // some bytes moved
  WantRead,   // try again once the socket is readable
  WantWrite,  // try again once the socket is writable
  Closed,     // the peer ended the stream
  Failed,     // broken: drop the connection
};

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual StreamIo read(char* buffer, size_t capacity, size_t& received) = 0;
  virtual StreamIo write(const char* data, size_t size, size_t& sent) = 0;
  // Ends our half of the stream (TLS: a close notification); the socket stays open.
  virtual void finish() = 0;
};

// Plain TCP over `socket`, which the caller keeps open for the stream's lifetime.
std::unique_ptr<ByteStream> makePlainStream(SocketHandle socket);

}  // namespace vhost
