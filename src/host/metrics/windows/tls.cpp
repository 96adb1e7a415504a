// The Windows build has no TLS library: no context can be made (--web-config is refused first).
#include "metrics/tls.h"

namespace vhost {

class TlsContext {};

std::shared_ptr<TlsContext> makeTlsContext(const TlsServerConfig&, std::string& error) {
  error = "the Windows build serves plain HTTP only (no TLS)";
  return nullptr;
}

std::unique_ptr<ByteStream> makeTlsStream(const std::shared_ptr<TlsContext>&, SocketHandle) { return nullptr; }

}  // namespace vhost
