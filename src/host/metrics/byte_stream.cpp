// The plain TCP byte stream.
#include "metrics/byte_stream.h"

namespace vhost {

namespace {

StreamIo fromNet(NetIo io, StreamIo wouldBlock) {
  switch (io) {
    case NetIo::Ok:
      return StreamIo::Ok;
    case NetIo::WouldBlock:
      return wouldBlock;
    case NetIo::Closed:
      return StreamIo::Closed;
    case NetIo::Failed:
      break;
  }
  return StreamIo::Failed;
}

class PlainStream : public ByteStream {
 public:
  explicit PlainStream(SocketHandle socket) : socket_(socket) {}
  StreamIo read(char* buffer, size_t capacity, size_t& received) override {
    return fromNet(receiveSome(socket_, buffer, capacity, received), StreamIo::WantRead);
  }
  StreamIo write(const char* data, size_t size, size_t& sent) override {
    return fromNet(sendSome(socket_, data, size, sent), StreamIo::WantWrite);
  }
  void finish() override { shutdownSending(socket_); }

 private:
  SocketHandle socket_;
};

}  // namespace

std::unique_ptr<ByteStream> makePlainStream(SocketHandle socket) { return std::make_unique<PlainStream>(socket); }

}  // namespace vhost
