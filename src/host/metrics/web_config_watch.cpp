// Loading and reloading of the web configuration.
#include "metrics/web_config_watch.h"

#include <filesystem>
#include <system_error>

namespace vhost {

WebConfigWatch::WebConfigWatch(std::string path, Log log)
    : path_(std::move(path)), log_(std::move(log)), current_(std::make_shared<ActiveWebConfig>()) {}

std::vector<WebConfigWatch::Stamp> WebConfigWatch::stampsOf(const std::string& path, const WebConfig* config) {
  std::vector<std::string> files{path};
  if (config != nullptr && config->tls) {
    files.push_back(config->tls->certFile);
    files.push_back(config->tls->keyFile);
    if (!config->tls->clientCaFile.empty()) files.push_back(config->tls->clientCaFile);
  }
  std::vector<Stamp> stamps;
  for (const std::string& file : files) {
    Stamp s{file};
    std::error_code ec;
    auto modified = std::filesystem::last_write_time(file, ec);
    if (!ec) s.modified = static_cast<long long>(modified.time_since_epoch().count());
    auto size = std::filesystem::file_size(file, ec);
    if (!ec) s.size = static_cast<long long>(size);
    stamps.push_back(s);
  }
  return stamps;
}

bool WebConfigWatch::build(std::shared_ptr<const ActiveWebConfig>& out, WebConfig& config, std::string& error) const {
  if (!loadWebConfig(path_, config, error)) return false;
  auto active = std::make_shared<ActiveWebConfig>();
  if (config.tls) {
    active->tls = makeTlsContext(*config.tls, error);
    if (!active->tls) {
      error = path_ + ": " + error;
      return false;
    }
  }
  if (!config.users.empty()) active->users = std::make_shared<const UserTable>(config.users);
  active->headers = config.headers;
  out = std::move(active);
  return true;
}

bool WebConfigWatch::load(std::string& error) {
  if (path_.empty()) return true;
  WebConfig config;
  std::shared_ptr<const ActiveWebConfig> active;
  if (!build(active, config, error)) return false;
  stamps_ = stampsOf(path_, &config);
  current_ = std::move(active);
  lastGood_ = std::move(config);
  if (!current_->tls && current_->users)
    log_("web config " + path_ + ": basic authentication without TLS sends passwords in clear text");
  return true;
}

bool WebConfigWatch::refresh(std::chrono::steady_clock::time_point now, std::chrono::milliseconds interval) {
  if (path_.empty() || now - lastLook_ < interval) return false;
  lastLook_ = now;
  // The files of the last attempt (the configuration file first): unchanged, nothing to do.
  std::vector<Stamp> seen;
  for (const Stamp& s : stamps_) seen.push_back(stampsOf(s.file, nullptr).front());
  if (seen == stamps_) return false;

  WebConfig config;
  std::shared_ptr<const ActiveWebConfig> active;
  std::string error;
  const bool ok = build(active, config, error);
  // Remember what was read either way: a bad file is reported once, not every second.
  stamps_ = stampsOf(path_, ok ? &config : &lastGood_);
  if (!ok) {
    log_("web config not reloaded, the last good one stays: " + error);
    return false;
  }
  current_ = std::move(active);
  lastGood_ = std::move(config);
  log_("web config reloaded from " + path_);
  return true;
}

}  // namespace vhost
