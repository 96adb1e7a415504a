// Reading the web configuration's YAML with yaml-cpp: only known keys, scalar values.
#include <yaml-cpp/yaml.h>

#include <algorithm>

#include "metrics/web_config.h"

namespace vhost {

namespace {

// Keys other exporters know that this endpoint does not serve: refused by name rather than
// silently ignored.
constexpr std::string_view kUnservedTlsKeys[] = {"cipher_suites", "curve_preferences", "prefer_server_cipher_suites",
                                                  "client_allowed_sans"};

bool scalar(const YAML::Node& node, const std::string& where, std::string& out, std::string& error) {
  if (node.IsNull()) {
    out.clear();
    return true;
  }
  if (!node.IsScalar()) {
    error = where + ": a single value is expected";
    return false;
  }
  out = node.Scalar();
  return true;
}

// `node` is a mapping of scalars (or empty); each key goes through `allow`, then each pair
// through `take`.
template <class Allow, class Take>
bool eachPair(const YAML::Node& node, const std::string& where, std::string& error, Allow allow, Take take) {
  if (node.IsNull()) return true;
  if (!node.IsMap()) {
    error = where + ": a mapping is expected";
    return false;
  }
  for (const auto& item : node) {
    std::string key, value;
    if (!scalar(item.first, where, key, error) || !allow(key)) return false;
    if (!scalar(item.second, where + "." + key, value, error)) return false;
    if (!take(key, value)) return false;
  }
  return true;
}

}  // namespace

bool webConfigSupported() { return true; }

bool readWebConfigEntries(std::string_view yaml, WebConfigEntries& out, std::string& error) {
  WebConfigEntries entries;
  YAML::Node root;
  try {
    root = YAML::Load(std::string(yaml));
  } catch (const YAML::Exception& e) {
    error = "not valid YAML: " + e.msg + " (line " + std::to_string(e.mark.line + 1) + ")";
    return false;
  }
  if (!root.IsNull() && !root.IsMap()) {
    error = "a mapping is expected at the top";
    return false;
  }
  auto anyKey = [](const std::string&) { return true; };
  try {
    for (const auto& item : root) {
      const std::string key = item.first.IsScalar() ? item.first.Scalar() : std::string("?");
      const YAML::Node& value = item.second;
      if (key == "tls_server_config") {
        entries.hasTls = !value.IsNull();
        auto allow = [&](const std::string& k) {
          static constexpr std::string_view kKnown[] = {"cert_file",      "key_file",    "client_auth_type",
                                                        "client_ca_file", "min_version", "max_version"};
          if (std::find(std::begin(kUnservedTlsKeys), std::end(kUnservedTlsKeys), k) != std::end(kUnservedTlsKeys)) {
            error = "tls_server_config." + k + " is not supported by this endpoint";
            return false;
          }
          if (std::find(std::begin(kKnown), std::end(kKnown), k) == std::end(kKnown)) {
            error = "unknown key tls_server_config." + k;
            return false;
          }
          return true;
        };
        bool ok = eachPair(value, key, error, allow, [&](const std::string& k, const std::string& v) {
          entries.tls.emplace_back(k, v);
          return true;
        });
        if (!ok) return false;
      } else if (key == "basic_auth_users") {
        bool ok = eachPair(value, key, error, anyKey, [&](const std::string& k, const std::string& v) {
          entries.users.emplace_back(k, v);
          return true;
        });
        if (!ok) return false;
      } else if (key == "http_server_config") {
        if (value.IsNull()) continue;
        if (!value.IsMap()) {
          error = "http_server_config: a mapping is expected";
          return false;
        }
        for (const auto& sub : value) {
          const std::string subKey = sub.first.IsScalar() ? sub.first.Scalar() : std::string("?");
          if (subKey == "headers") {
            bool ok = eachPair(sub.second, "http_server_config.headers", error, anyKey,
                               [&](const std::string& k, const std::string& v) {
                                 entries.headers.emplace_back(k, v);
                                 return true;
                               });
            if (!ok) return false;
          } else if (subKey == "http2") {
            error = "http_server_config.http2 is not supported by this endpoint (HTTP/1.1 only)";
            return false;
          } else {
            error = "unknown key http_server_config." + subKey;
            return false;
          }
        }
      } else {
        error = "unknown key " + key;
        return false;
      }
    }
  } catch (const YAML::Exception& e) {
    error = "not valid: " + e.msg;
    return false;
  }
  out = std::move(entries);
  return true;
}

}  // namespace vhost
