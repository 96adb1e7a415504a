// The metrics endpoint of the runner: the figures cache, fed by the framework's notifications
// and by requests to the plug-in's worker, served by the HTTP server.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "framework_events.h"
#include "metrics/figures_cache.h"
#include "metrics/http_server.h"
#include "metrics/listen_address.h"

namespace vhost {

inline constexpr wchar_t kPerfmonWorker[] = L"perfmon";

class MetricsEndpoint {
 public:
  using Log = std::function<void(const std::string&)>;
  // Attaches the figures to `framework` at once, so that they see the plug-in from its start.
  // `log` takes the server's remarks (a web configuration reloaded or refused), from its thread.
  MetricsEndpoint(FrameworkEvents& framework, Log log);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // `webConfig`: the --web-config file, empty for plain HTTP without authentication.
  bool start(const ListenAddress& address, const std::string& webConfig, std::string& error);
  bool tls() const { return server_.tls(); }
  // Once the plug-in runs: waits a while for its worker and runs one round, so that the
  // metric definitions its first counter reply announces are known from the first scrape on.
  void prime();
  // Stops serving at once, whatever clients are connected; a scrape being made ends first.
  void stop();

 private:
  FrameworkEvents& framework_;
  FiguresCache figures_;
  HttpServer server_;
};

}  // namespace vhost
