// The metrics endpoint's HTTP server: one thread with an event loop over non-blocking sockets,
// so that slow, idle or hostile clients cost a bounded buffer each and never hold up a scrape.
//
// Every connection has a fixed budget: a request head of at most maxHeadBytes that must arrive
// whole within requestTimeout of the connection's accept (or of the previous answer), and an
// answer that must be taken within requestTimeout. At maxConnections the connection that has
// waited longest for its request is closed to make room. Requests on one connection are
// answered in order. The body of /metrics is made on the loop thread, once per turn of the loop
// for every scrape that arrived in it; bcrypt checks run on an authentication thread and never
// block the loop.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "metrics/listen_address.h"

namespace vhost {

struct HttpServerLimits {
  size_t maxConnections = 128;
  size_t maxHeadBytes = 8192;  // request line and header fields together; more gets 431
  std::chrono::milliseconds requestTimeout{5000};
  size_t requestsPerConnection = 1000;
  size_t pendingAuthChecks = 16;  // bcrypt checks waiting; more are answered 503
};

class HttpServer {
 public:
  using Render = std::function<std::string()>;
  using Log = std::function<void(const std::string&)>;

  // `render` makes the body of /metrics; `log` takes one line about the configuration (any thread).
  HttpServer(Render render, Log log, HttpServerLimits limits = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Reads the web configuration (`webConfig` empty: plain HTTP, no authentication), binds and
  // starts serving; false with a one-line reason.
  bool start(const ListenAddress& address, const std::string& webConfig, std::string& error);
  // The port being listened on (useful with port 0).
  uint16_t port() const;
  // Whether the configuration read at start serves TLS.
  bool tls() const;
  // Closes every connection at once and joins the threads; a render or check in progress ends first.
  void stop();

  struct Loop;

 private:
  Render render_;
  Log log_;
  HttpServerLimits limits_;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace vhost
