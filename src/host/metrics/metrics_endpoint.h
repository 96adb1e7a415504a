// The metrics endpoint of the runner: the figures cache, fed by the framework's notifications
// and by requests to the plug-in's worker, served by the HTTP server.
#pragma once
#include <memory>
#include <string>

#include "framework_events.h"
#include "metrics/figures_cache.h"
#include "metrics/listen_address.h"
#include "metrics/metrics_server.h"

namespace vhost {

inline constexpr wchar_t kPerfmonWorker[] = L"perfmon";

class MetricsEndpoint {
 public:
  // Attaches the figures to `framework` at once, so that they see the plug-in from its start.
  explicit MetricsEndpoint(FrameworkEvents& framework);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  bool start(const ListenAddress& address, std::string& error);
  // Once the plug-in runs: waits a while for its worker and runs one round, so that the
  // metric definitions its first counter reply announces are known from the first scrape on.
  void prime();
  // Stops serving; a scrape being answered ends first.
  void stop();

 private:
  FrameworkEvents& framework_;
  FiguresCache figures_;
  MetricsServer server_;
};

}  // namespace vhost
