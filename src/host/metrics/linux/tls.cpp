// TLS through OpenSSL, non-blocking: one SSL_CTX per configuration, one SSL per connection.
#include "metrics/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace vhost {

class TlsContext {
 public:
  explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
  ~TlsContext() { SSL_CTX_free(ctx_); }
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  SSL_CTX* get() const { return ctx_; }

 private:
  SSL_CTX* ctx_;
};

namespace {

std::string lastSslError() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// Request/RequireAny: a certificate is asked for but any is taken.
int acceptAnyCertificate(int, X509_STORE_CTX*) { return 1; }

int protocolVersion(int version) { return version == 13 ? TLS1_3_VERSION : TLS1_2_VERSION; }

class TlsStream : public ByteStream {
 public:
  TlsStream(std::shared_ptr<TlsContext> context, SocketHandle socket)
      : context_(std::move(context)), ssl_(SSL_new(context_->get())) {
    if (ssl_ != nullptr) {
      SSL_set_fd(ssl_, static_cast<int>(socket));
      SSL_set_accept_state(ssl_);
    }
  }
  ~TlsStream() override { SSL_free(ssl_); }

  StreamIo read(char* buffer, size_t capacity, size_t& received) override {
    if (ssl_ == nullptr) return StreamIo::Failed;
    ERR_clear_error();
    if (SSL_read_ex(ssl_, buffer, capacity, &received) == 1) return StreamIo::Ok;
    return failure(SSL_get_error(ssl_, 0));
  }
  StreamIo write(const char* data, size_t size, size_t& sent) override {
    if (ssl_ == nullptr) return StreamIo::Failed;
    ERR_clear_error();
    if (SSL_write_ex(ssl_, data, size, &sent) == 1) return StreamIo::Ok;
    return failure(SSL_get_error(ssl_, 0));
  }
  void finish() override {
    // One attempt at a close notification; the connection closes right after either way.
    if (ssl_ != nullptr && SSL_is_init_finished(ssl_)) {
      ERR_clear_error();
      SSL_shutdown(ssl_);
    }
  }

 private:
  static StreamIo failure(int code) {
    ERR_clear_error();
    switch (code) {
      case SSL_ERROR_WANT_READ:
        return StreamIo::WantRead;
      case SSL_ERROR_WANT_WRITE:
        return StreamIo::WantWrite;
      case SSL_ERROR_ZERO_RETURN:
        return StreamIo::Closed;
      default:
        return StreamIo::Failed;
    }
  }

  std::shared_ptr<TlsContext> context_;
  SSL* ssl_;
};

}  // namespace

std::shared_ptr<TlsContext> makeTlsContext(const TlsServerConfig& config, std::string& error) {
  ERR_clear_error();
  auto context = std::make_shared<TlsContext>(SSL_CTX_new(TLS_server_method()));
  SSL_CTX* ctx = context->get();
  if (ctx == nullptr) {
    error = "cannot make a TLS context: " + lastSslError();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, protocolVersion(config.minVersion));
  if (config.maxVersion != 0) SSL_CTX_set_max_proto_version(ctx, protocolVersion(config.maxVersion));
  // Idle connections give their buffers back; writes may resume from a moved buffer.
  SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  static const unsigned char kSessionContext[] = "statrix";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);

  if (SSL_CTX_use_certificate_chain_file(ctx, config.certFile.c_str()) != 1) {
    error = "cannot use the certificate " + config.certFile + ": " + lastSslError();
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, config.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    error = "cannot use the key " + config.keyFile + ": " + lastSslError();
    return nullptr;
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    error = "the key " + config.keyFile + " does not belong to the certificate " + config.certFile;
    ERR_clear_error();
    return nullptr;
  }
  if (!config.clientCaFile.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(config.clientCaFile.c_str());
    if (names == nullptr || SSL_CTX_load_verify_locations(ctx, config.clientCaFile.c_str(), nullptr) != 1) {
      if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
      error = "cannot use the client authorities in " + config.clientCaFile + ": " + lastSslError();
      return nullptr;
    }
    SSL_CTX_set_client_CA_list(ctx, names);
  }
  switch (config.clientAuth) {
    case ClientAuth::NoClientCert:
      SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
      break;
    case ClientAuth::RequestClientCert:
      SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, acceptAnyCertificate);
      break;
    case ClientAuth::RequireAnyClientCert:
      SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptAnyCertificate);
      break;
    case ClientAuth::VerifyClientCertIfGiven:
      SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
      break;
    case ClientAuth::RequireAndVerifyClientCert:
      SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
      break;
  }
  return context;
}

std::unique_ptr<ByteStream> makeTlsStream(const std::shared_ptr<TlsContext>& context, SocketHandle socket) {
  return std::make_unique<TlsStream>(context, socket);
}

}  // namespace vhost
