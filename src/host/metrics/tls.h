// TLS for the endpoint: a server context made from the web configuration, and the byte
// stream of one connection over it (linux/tls.cpp: OpenSSL; windows/tls.cpp: refused).
#pragma once
#include <memory>
#include <string>

#include "metrics/byte_stream.h"
#include "metrics/web_config.h"

namespace vhost {

class TlsContext;

// Reads the certificate chain, the key and the client authorities; empty with a one-line
// reason naming the file when one cannot be used.
std::shared_ptr<TlsContext> makeTlsContext(const TlsServerConfig& config, std::string& error);

// The server side of a TLS connection on `socket` (kept open by the caller); the handshake
// happens within the first reads and writes.
std::unique_ptr<ByteStream> makeTlsStream(const std::shared_ptr<TlsContext>& context, SocketHandle socket);

}  // namespace vhost
