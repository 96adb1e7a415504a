// The web configuration in force, read again when its file or the files it names change.
#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "metrics/basic_auth.h"
#include "metrics/tls.h"
#include "metrics/web_config.h"

namespace vhost {

// One usable configuration: what a connection accepted now is served with.
struct ActiveWebConfig {
  std::shared_ptr<TlsContext> tls;          // empty: plain HTTP
  std::shared_ptr<const UserTable> users;   // empty or no users: no authentication
  std::vector<std::pair<std::string, std::string>> headers;
};

class WebConfigWatch {
 public:
  using Log = std::function<void(const std::string&)>;
  // `path` empty: plain HTTP, no authentication, nothing to watch.
  WebConfigWatch(std::string path, Log log);

  // The first load: false with a one-line reason (start-up fails).
  bool load(std::string& error);
  // Looks at the files at most once per `interval`; when one changed, reads the configuration
  // again. A configuration that cannot be used is logged and the last good one stays.
  // Returns true when a new configuration took effect.
  bool refresh(std::chrono::steady_clock::time_point now,
               std::chrono::milliseconds interval = std::chrono::milliseconds(1000));

  std::shared_ptr<const ActiveWebConfig> current() const { return current_; }
  // Whether refresh has any file to look at (a loop need not wake for it otherwise).
  bool watching() const { return !path_.empty(); }

 private:
  struct Stamp {
    std::string file;
    long long modified = 0;
    long long size = -1;
    bool operator==(const Stamp&) const = default;
  };
  static std::vector<Stamp> stampsOf(const std::string& path, const WebConfig* config);
  bool build(std::shared_ptr<const ActiveWebConfig>& out, WebConfig& config, std::string& error) const;

  std::string path_;
  Log log_;
  std::shared_ptr<const ActiveWebConfig> current_;
  std::vector<Stamp> stamps_;  // of the files the last attempt read, good or not
  WebConfig lastGood_;
  std::chrono::steady_clock::time_point lastLook_{};
};

}  // namespace vhost
