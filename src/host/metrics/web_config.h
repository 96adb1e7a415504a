// The endpoint's web configuration file (--web-config): TLS, client certificates, basic-auth
// users and extra response headers, in the YAML layout Prometheus exporters share.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vhost {

enum class ClientAuth {
  NoClientCert,
  RequestClientCert,           // asked for, not checked
  RequireAnyClientCert,        // required, not checked
  VerifyClientCertIfGiven,     // checked against client_ca_file when sent
  RequireAndVerifyClientCert,  // required and checked
};

struct TlsServerConfig {
  std::string certFile, keyFile, clientCaFile;  // absolute, or relative to the working directory
  ClientAuth clientAuth = ClientAuth::NoClientCert;
  int minVersion = 12;  // 12: TLS 1.2, 13: TLS 1.3
  int maxVersion = 0;   // 0: the highest the library knows
};

struct BasicAuthUser {
  std::string name, hash;  // hash: bcrypt ($2a$, $2b$ or $2y$)
};

struct WebConfig {
  std::optional<TlsServerConfig> tls;
  std::vector<BasicAuthUser> users;  // empty: no authentication
  std::vector<std::pair<std::string, std::string>> headers;
};

// The entries of the file as text, keys checked but values not yet interpreted.
struct WebConfigEntries {
  bool hasTls = false;
  std::vector<std::pair<std::string, std::string>> tls;  // key under tls_server_config → value
  std::vector<std::pair<std::string, std::string>> users;
  std::vector<std::pair<std::string, std::string>> headers;
};

// Reads the YAML text into entries. A key the endpoint does not know, or one it does not
// serve, is an error naming the key. (The Windows build has no YAML library: it refuses.)
bool readWebConfigEntries(std::string_view yaml, WebConfigEntries& out, std::string& error);

// Interprets the entries: enumerations, versions, bcrypt hashes, header names. File names are
// taken relative to `baseDir` (the directory of the configuration file).
bool interpretWebConfig(const WebConfigEntries& entries, const std::string& baseDir, WebConfig& out,
                        std::string& error);

// Both steps on the file `path`, with errors prefixed by the file name.
bool loadWebConfig(const std::string& path, WebConfig& out, std::string& error);

// Whether this build can serve TLS and basic authentication.
bool webConfigSupported();

}  // namespace vhost
