// The metrics endpoint's HTTP server, on cpp-httplib.
#include <httplib.h>

#include "metrics/metrics_server.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "metrics/listen_socket.h"
#include "metrics/prometheus_text.h"

namespace vhost {

namespace {

constexpr char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>statrix</title></head>\n"
    "<body><h1>statrix</h1><p>Metrics: <a href=\"/metrics\">/metrics</a></p></body></html>\n";

// A worker pool whose queue of accepted connections is bounded: when it is full, enqueue (on
// the accepting thread) waits, so further clients wait in the listen backlog instead of each
// holding an open connection here.
class BoundedQueue : public httplib::TaskQueue {
 public:
  BoundedQueue(size_t workers, size_t queued) : pool_(workers), limit_(workers + queued) {}

  void enqueue(std::function<void()> fn) override {
    {
      std::unique_lock lock(mutex_);
      slotFree_.wait(lock, [&] { return outstanding_ < limit_ || shutdown_; });
      ++outstanding_;
    }
    pool_.enqueue([this, fn = std::move(fn)] {
      fn();
      std::lock_guard lock(mutex_);
      --outstanding_;
      slotFree_.notify_one();
    });
  }

  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      shutdown_ = true;
      slotFree_.notify_all();
    }
    pool_.shutdown();
  }

 private:
  httplib::ThreadPool pool_;
  const size_t limit_;
  std::mutex mutex_;  // guards the two members below
  std::condition_variable slotFree_;
  size_t outstanding_ = 0;
  bool shutdown_ = false;
};

void plain(httplib::Response& res, int status, const char* text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

}  // namespace

MetricsServer::MetricsServer(std::function<std::string()> render, MetricsServerLimits limits)
    : render_(std::move(render)), limits_(limits) {}

MetricsServer::~MetricsServer() { stop(); }

bool MetricsServer::start(const ListenAddress& address, std::string& error) {
  stop();
  server_ = std::make_unique<httplib::Server>();
  httplib::Server& s = *server_;
  const MetricsServerLimits limits = limits_;
  s.new_task_queue = [limits] { return new BoundedQueue(limits.workers, limits.queued); };
  s.set_socket_options([](socket_t sock) { configureListenSocket(static_cast<std::intptr_t>(sock)); });
  s.set_payload_max_length(limits.maxBodyBytes);
  s.set_read_timeout(limits.timeoutSeconds);
  s.set_write_timeout(limits.timeoutSeconds);
  s.set_keep_alive_timeout(limits.timeoutSeconds);
  s.set_keep_alive_max_count(limits.keepAliveRequests);

  // Every request passes here first: only two paths, only GET and HEAD.
  s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path != "/metrics" && req.path != "/") {
      plain(res, 404, "not found: the metrics are at /metrics\n");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      plain(res, 405, "method not allowed: GET or HEAD\n");
      res.set_header("Allow", "GET, HEAD");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(render_(), prom::kContentType);
  });
  s.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kIndexPage, "text/html; charset=utf-8");
  });

  if (!s.bind_to_port(address.host, address.port)) {
    error = "cannot listen on " + address.host + ":" + std::to_string(address.port) +
            " (address in use, not local, or not allowed)";
    server_.reset();
    return false;
  }
  listenEnded_ = false;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listenEnded_ = true;
  });
  // stop() only takes effect once the server runs: wait for that here, not there.
  while (!server_->is_running() && !listenEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void MetricsServer::stop() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace vhost
