// The HTTP side of the metrics endpoint: GET/HEAD /metrics and a short page at /, on its own
// threads, with bounded request size, connection count and time per connection.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "metrics/listen_address.h"

namespace httplib {
class Server;
}

namespace vhost {

struct MetricsServerLimits {
  size_t workers = 4;          // requests served at once
  size_t queued = 16;          // accepted connections waiting for a worker; then accept waits
  size_t maxBodyBytes = 1024;  // a larger request body is refused with 413
  int timeoutSeconds = 5;      // read, write and keep-alive idle time of a connection
  size_t keepAliveRequests = 10;
};

class MetricsServer {
 public:
  // `render` produces the body of /metrics; it runs on a server thread, once per GET.
  explicit MetricsServer(std::function<std::string()> render, MetricsServerLimits limits = {});
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds and starts serving; false with a one-line reason when the address cannot be bound.
  bool start(const ListenAddress& address, std::string& error);
  // Stops accepting, lets the requests being served end, joins the threads. Idempotent.
  void stop();

 private:
  std::function<std::string()> render_;
  MetricsServerLimits limits_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> listenEnded_{false};
};

}  // namespace vhost
