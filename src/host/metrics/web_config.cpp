// Interpretation and checks of the web configuration's entries.
#include "metrics/web_config.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vhost {

namespace {

bool lowerEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Header fields the endpoint writes itself or that carry credentials: not to be set by configuration.
constexpr std::string_view kReservedHeaders[] = {
    "Content-Type",  "Content-Length", "Connection", "Transfer-Encoding", "WWW-Authenticate", "Allow",
    "Authorization", "Proxy-Authenticate", "Proxy-Authorization", "Date", "Retry-After", "Keep-Alive"};

bool isHeaderName(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

bool isHeaderValue(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7f);
  });
}

// "$2b$10$" + 53 characters of bcrypt's base-64 alphabet.
bool isBcryptHash(std::string_view h) {
  if (h.size() != 60 || h[0] != '$' || h[1] != '2' || (h[2] != 'a' && h[2] != 'b' && h[2] != 'y') || h[3] != '$' ||
      !std::isdigit(static_cast<unsigned char>(h[4])) || !std::isdigit(static_cast<unsigned char>(h[5])) || h[6] != '$')
    return false;
  int cost = (h[4] - '0') * 10 + (h[5] - '0');
  return cost >= 4 && cost <= 31 && std::all_of(h.begin() + 7, h.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '/';
         });
}

bool parseVersion(const std::string& key, const std::string& value, int& out, std::string& error) {
  if (value == "TLS12") {
    out = 12;
  } else if (value == "TLS13") {
    out = 13;
  } else if (value == "TLS10" || value == "TLS11") {
    error = "tls_server_config." + key + ": " + value + " is not served, TLS12 is the lowest";
    return false;
  } else {
    error = "tls_server_config." + key + ": \"" + value + "\" is none of TLS12, TLS13";
    return false;
  }
  return true;
}

std::string resolve(const std::string& baseDir, const std::string& file) {
  if (file.empty() || baseDir.empty() || std::filesystem::path(file).is_absolute()) return file;
  return (std::filesystem::path(baseDir) / file).string();
}

}  // namespace

bool interpretWebConfig(const WebConfigEntries& entries, const std::string& baseDir, WebConfig& out,
                        std::string& error) {
  WebConfig config;
  if (entries.hasTls) {
    TlsServerConfig tls;
    for (const auto& [key, value] : entries.tls) {
      if (key == "cert_file") {
        tls.certFile = resolve(baseDir, value);
      } else if (key == "key_file") {
        tls.keyFile = resolve(baseDir, value);
      } else if (key == "client_ca_file") {
        tls.clientCaFile = resolve(baseDir, value);
      } else if (key == "client_auth_type") {
        constexpr std::pair<std::string_view, ClientAuth> kTypes[] = {
            {"NoClientCert", ClientAuth::NoClientCert},
            {"RequestClientCert", ClientAuth::RequestClientCert},
            {"RequireAnyClientCert", ClientAuth::RequireAnyClientCert},
            {"VerifyClientCertIfGiven", ClientAuth::VerifyClientCertIfGiven},
            {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerifyClientCert}};
        const std::string& wanted = value;  // clang 14 cannot capture a structured binding
        auto it = std::find_if(std::begin(kTypes), std::end(kTypes), [&](const auto& t) { return t.first == wanted; });
        if (it == std::end(kTypes)) {
          error = "tls_server_config.client_auth_type: \"" + value + "\" is no client auth type";
          return false;
        }
        tls.clientAuth = it->second;
      } else if (key == "min_version") {
        if (!parseVersion(key, value, tls.minVersion, error)) return false;
      } else if (key == "max_version") {
        if (!parseVersion(key, value, tls.maxVersion, error)) return false;
      }
    }
    if (tls.certFile.empty() || tls.keyFile.empty()) {
      error = std::string("tls_server_config: ") + (tls.certFile.empty() ? "cert_file" : "key_file") + " is missing";
      return false;
    }
    const bool verifies =
        tls.clientAuth == ClientAuth::VerifyClientCertIfGiven || tls.clientAuth == ClientAuth::RequireAndVerifyClientCert;
    if (verifies && tls.clientCaFile.empty()) {
      error = "tls_server_config: client_auth_type checks client certificates but client_ca_file is missing";
      return false;
    }
    if (!tls.clientCaFile.empty() && tls.clientAuth == ClientAuth::NoClientCert) {
      error = "tls_server_config: client_ca_file is given but client_auth_type is NoClientCert";
      return false;
    }
    if (tls.maxVersion != 0 && tls.maxVersion < tls.minVersion) {
      error = "tls_server_config: max_version is below min_version";
      return false;
    }
    config.tls = tls;
  }
  for (const auto& [name, hash] : entries.users) {
    if (name.empty() || name.find(':') != std::string::npos) {
      error = "basic_auth_users: \"" + name + "\" is no user name (empty or with a colon)";
      return false;
    }
    if (!isBcryptHash(hash)) {
      error = "basic_auth_users." + name + ": not a bcrypt hash ($2b$..., 60 characters)";
      return false;
    }
    config.users.push_back({name, hash});
  }
  for (const auto& [name, value] : entries.headers) {
    if (!isHeaderName(name) || !isHeaderValue(value)) {
      error = "http_server_config.headers: \"" + name + "\" is no valid header name and value";
      return false;
    }
    for (std::string_view reserved : kReservedHeaders) {
      if (lowerEquals(name, reserved)) {
        error = "http_server_config.headers: " + name + " is set by the endpoint itself";
        return false;
      }
    }
    config.headers.emplace_back(name, value);
  }
  out = std::move(config);
  return true;
}

bool loadWebConfig(const std::string& path, WebConfig& out, std::string& error) {
  WebConfigEntries entries;
  if (!webConfigSupported()) return readWebConfigEntries({}, entries, error);
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  if (!file) {
    error = path + ": cannot read the file";
    return false;
  }
  std::string why;
  if (!readWebConfigEntries(text.str(), entries, why) ||
      !interpretWebConfig(entries, std::filesystem::path(path).parent_path().string(), out, why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace vhost
