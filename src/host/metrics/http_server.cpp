// The endpoint's event loop: accepting, reading request heads, answering in order, deadlines,
// eviction, and the authentication thread it hands bcrypt checks to.
#include "metrics/http_server.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "metrics/basic_auth.h"
#include "metrics/byte_stream.h"
#include "metrics/http_request.h"
#include "metrics/net.h"
#include "metrics/prometheus_text.h"
#include "metrics/web_config_watch.h"

namespace vhost {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>statrix</title></head>\n"
    "<body><h1>statrix</h1><p>Metrics: <a href=\"/metrics\">/metrics</a></p></body></html>\n";
constexpr auto kLingerTime = std::chrono::milliseconds(1000);  // reading what a refused client still sends
// An answer up to this size is copied behind its head and sent in one write.
constexpr size_t kOneWriteLimit = 64 * 1024;
constexpr size_t kLingerBytes = 64 * 1024;
constexpr size_t kAcceptsPerTurn = 64;

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Internal Server Error";
  }
}

// One background thread running posted jobs in order.
class Lane {
 public:
  Lane() : thread_([this] { run(); }) {}
  ~Lane() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    ready_.notify_all();
    thread_.join();
  }
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  void post(std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
        if (stop_) return;  // jobs not started are dropped
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;  // guards jobs_ and stop_; never held while a job runs
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace

struct HttpServer::Loop {
  enum class State { Reading, Authorizing, Rendering, Writing, Draining };

  struct Connection {
    uint64_t id = 0;
    Socket socket;
    std::unique_ptr<ByteStream> stream;  // after socket: ends before the socket closes
    State state = State::Reading;
    Clock::time_point deadline;      // of the current state (Reading, Writing, Draining)
    Clock::time_point readingSince;  // when it began to wait for its request: eviction order
    StreamIo blockedOn = StreamIo::WantRead;
    std::string in;  // received and not yet answered, at most maxHeadBytes + 1
    HttpRequest request;
    size_t served = 0;
    bool closeAfter = false;
    std::string head;
    std::shared_ptr<const std::string> body;
    bool headOnly = false;
    bool plain = false;  // no TLS
    size_t sent = 0, drained = 0;
  };

  Loop(Render render, Log log, HttpServerLimits limits, const std::string& webConfig)
      : render_(std::move(render)), log_(std::move(log)), limits_(limits), watch_(webConfig, log_) {}

  bool open(const ListenAddress& address, std::string& error) {
    if (!watch_.load(error)) return false;
    if (!waker_.open(error)) return false;
    listener_ = listenTcp(address.host, address.port, error);
    if (!listener_) return false;
    port_ = boundPort(listener_.get());
    tlsAtStart_ = watch_.current()->tls != nullptr;
    authLane_ = std::make_unique<Lane>();
    return true;
  }

  void requestStop() {
    stopping_ = true;
    waker_.wake();
  }

  // From the lanes: `fn` runs on the loop thread.
  void postCompletion(std::function<void()> fn) {
    {
      std::lock_guard lock(completionsMutex_);
      completions_.push_back(std::move(fn));
    }
    waker_.wake();
  }

  void run() {
    std::vector<PollEntry> entries;
    std::vector<uint64_t> ids;
    while (!stopping_) {
      Clock::time_point now = Clock::now();
      if (watch_.refresh(now)) usersMayHaveChanged();
      entries.clear();
      ids.clear();
      entries.push_back({waker_.handle(), true, false});
      entries.push_back({listener_.get(), now >= acceptPausedUntil_, false});
      // An idle endpoint without a web configuration to watch sleeps until a client or a
      // wake-up comes; otherwise until the next look at the files or the nearest deadline.
      Clock::time_point wakeAt = watch_.watching() ? now + std::chrono::milliseconds(1000) : Clock::time_point::max();
      for (auto& [id, c] : connections_) {
        if (c->state == State::Authorizing || c->state == State::Rendering) continue;
        entries.push_back({c->socket.get(), c->blockedOn == StreamIo::WantRead, c->blockedOn == StreamIo::WantWrite});
        ids.push_back(id);
        wakeAt = std::min(wakeAt, c->deadline);
      }
      if (now < acceptPausedUntil_) wakeAt = std::min(wakeAt, acceptPausedUntil_);
      int waitMs = -1;  // no limit
      if (!waitingForRender_.empty()) {
        waitMs = 0;  // scrapes queued while the last turn's were answered
      } else if (wakeAt != Clock::time_point::max()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count() + 1;
        waitMs = static_cast<int>(std::clamp<long long>(wait, 0, 1000));
      }
      if (!pollSockets(entries, waitMs)) {
        log_("metrics endpoint: poll failed; serving stops");
        break;
      }
      if (entries[0].readable) {
        waker_.drain();
        runCompletions();
      }
      for (size_t i = 0; i < ids.size(); ++i) {
        const PollEntry& e = entries[i + 2];
        if (!e.readable && !e.writable && !e.failed) continue;
        if (Connection* c = find(ids[i])) advance(*c);
      }
      if (entries[1].readable) acceptSome();
      if (!waitingForRender_.empty()) renderWaiting();
      expire(Clock::now());
    }
    connections_.clear();
  }

  Connection* find(uint64_t id) {
    auto it = connections_.find(id);
    return it == connections_.end() ? nullptr : it->second.get();
  }

  void close(Connection& c) { connections_.erase(c.id); }

  void runCompletions() {
    std::vector<std::function<void()>> ready;
    {
      std::lock_guard lock(completionsMutex_);
      ready.swap(completions_);
    }
    for (auto& fn : ready) fn();
  }

  void usersMayHaveChanged() {
    const auto users = watch_.current()->users;
    if (users != cachedFor_ && (!users || !cachedFor_ || users->users().size() != cachedFor_->users().size() ||
                                !std::equal(users->users().begin(), users->users().end(), cachedFor_->users().begin(),
                                            [](const BasicAuthUser& a, const BasicAuthUser& b) {
                                              return a.name == b.name && a.hash == b.hash;
                                            }))) {
      authCache_.clear();
    }
    cachedFor_ = users;
  }

  void acceptSome() {
    for (size_t i = 0; i < kAcceptsPerTurn; ++i) {
      Socket s;
      AcceptResult r = acceptClient(listener_.get(), s);
      if (r == AcceptResult::Again) return;
      if (r == AcceptResult::Failed) {
        // Out of descriptors, most likely: make room, and do not spin on the listener meanwhile.
        if (!evictOne()) acceptPausedUntil_ = Clock::now() + std::chrono::milliseconds(100);
        return;
      }
      if (connections_.size() >= limits_.maxConnections && !evictOne()) continue;  // refused: s closes
      const auto config = watch_.current();
      auto c = std::make_unique<Connection>();
      c->stream = config->tls ? makeTlsStream(config->tls, s.get()) : makePlainStream(s.get());
      if (!c->stream) continue;
      c->socket = std::move(s);
      c->id = nextId_++;
      c->plain = config->tls == nullptr;
      startReading(*c, Clock::now());
      Connection& added = *connections_.emplace(c->id, std::move(c)).first->second;
      // A client sends its request right after connecting: it is usually here already.
      readRequest(added);
    }
  }

  // Closes the connection that has waited longest for a request; false when every connection
  // is busy with a request.
  bool evictOne() {
    Connection* oldest = nullptr;
    for (auto& [id, c] : connections_) {
      if (c->state != State::Reading && c->state != State::Draining) continue;
      if (c->state == State::Draining) {
        oldest = c.get();
        break;
      }
      if (oldest == nullptr || c->readingSince < oldest->readingSince) oldest = c.get();
    }
    if (oldest == nullptr) return false;
    close(*oldest);
    return true;
  }

  void expire(Clock::time_point now) {
    std::vector<uint64_t> late;
    for (auto& [id, c] : connections_)
      if (c->state != State::Authorizing && c->state != State::Rendering && c->deadline <= now) late.push_back(id);
    for (uint64_t id : late) connections_.erase(id);
  }

  void startReading(Connection& c, Clock::time_point now) {
    c.state = State::Reading;
    c.readingSince = now;
    c.deadline = now + limits_.requestTimeout;
    c.blockedOn = StreamIo::WantRead;
  }

  void advance(Connection& c) {
    switch (c.state) {
      case State::Reading:
        return readRequest(c);
      case State::Writing:
        return writeAnswer(c);
      case State::Draining:
        return drain(c);
      case State::Authorizing:
      case State::Rendering:
        return;
    }
  }

  void readRequest(Connection& c) {
    for (;;) {
      RequestParse parsed = parseRequestHead(c.in, limits_.maxHeadBytes);
      if (parsed.status == RequestParse::Status::Done) {
        c.in.erase(0, parsed.consumed);
        return handle(c, std::move(parsed.request));
      }
      if (parsed.status == RequestParse::Status::Error) {
        c.request = HttpRequest{};
        return answerError(c, parsed.errorStatus, parsed.why);
      }
      const size_t had = c.in.size();
      c.in.resize(limits_.maxHeadBytes + 1);
      size_t got = 0;
      StreamIo io = c.stream->read(c.in.data() + had, c.in.size() - had, got);
      c.in.resize(had + (io == StreamIo::Ok ? got : 0));
      if (io == StreamIo::Ok) continue;
      if (io == StreamIo::WantRead || io == StreamIo::WantWrite) {
        c.blockedOn = io;
        return;
      }
      return close(c);
    }
  }

  void handle(Connection& c, HttpRequest request) {
    c.request = std::move(request);
    ++c.served;
    c.closeAfter = c.request.http10 || c.request.wantsClose || c.served >= limits_.requestsPerConnection;
    const bool getOrHead = c.request.method == "GET" || c.request.method == "HEAD";
    if (c.request.hasBody) {
      // A body is never read: the connection ends with the answer.
      c.closeAfter = true;
      if (getOrHead) return answerError(c, 400, "a GET or HEAD request has no body");
    }
    const auto users = watch_.current()->users;
    if (!users || users->empty()) return route(c);
    Credentials credentials;
    if (!parseBasicCredentials(c.request.authorization, credentials)) return unauthorized(c);
    switch (authCache_.lookup(credentials.key)) {
      case AuthCache::Known::Valid:
        return route(c);
      case AuthCache::Known::Invalid:
        return unauthorized(c);
      case AuthCache::Known::Unknown:
        break;
    }
    if (pendingAuth_ >= limits_.pendingAuthChecks) {
      c.closeAfter = true;
      return answer(c, 503, "text/plain; charset=utf-8", "too many authentication checks at once\n",
                    "Retry-After: 1\r\n");
    }
    ++pendingAuth_;
    c.state = State::Authorizing;
    const uint64_t id = c.id;
    authLane_->post([this, id, users, credentials = std::move(credentials)] {
      const bool ok = users->verify(credentials);
      postCompletion([this, id, users, key = credentials.key, ok] {
        --pendingAuth_;
        if (users == watch_.current()->users) authCache_.remember(key, ok);
        Connection* c = find(id);
        if (c == nullptr || c->state != State::Authorizing) return;
        if (ok)
          route(*c);
        else
          unauthorized(*c);
      });
    });
  }

  void unauthorized(Connection& c) {
    answer(c, 401, "text/plain; charset=utf-8", "unauthorized\n", "WWW-Authenticate: Basic realm=\"statrix\"\r\n");
  }

  void route(Connection& c) {
    const std::string& path = c.request.path;
    if (path != "/metrics" && path != "/")
      return answer(c, 404, "text/plain; charset=utf-8", "not found: the metrics are at /metrics\n");
    if (c.request.method != "GET" && c.request.method != "HEAD")
      return answer(c, 405, "text/plain; charset=utf-8", "method not allowed: GET or HEAD\n", "Allow: GET, HEAD\r\n");
    if (path == "/") return answer(c, 200, "text/html; charset=utf-8", kIndexPage);
    c.state = State::Rendering;
    waitingForRender_.push_back(c.id);
  }

  // One render serves every scrape that arrived in this turn of the loop. It runs on the loop
  // thread: a round costs a fraction of a millisecond, less than handing it to another thread
  // and being woken for its end, and the loop's deadlines are seconds. A connection whose next
  // request is already here when it is answered waits for the next turn, so a client that
  // pipelines requests cannot keep the loop rendering for it alone.
  void renderWaiting() {
    std::vector<uint64_t> waiting;
    waiting.swap(waitingForRender_);
    std::shared_ptr<const std::string> body;
    try {
      body = std::make_shared<const std::string>(render_());
    } catch (const std::exception&) {
    }
    for (uint64_t id : waiting) {
      Connection* c = find(id);
      if (c == nullptr || c->state != State::Rendering) continue;
      if (body)
        answer(*c, 200, prom::kContentType, body);
      else
        answerError(*c, 500, "the metrics could not be made");
    }
  }

  void answerError(Connection& c, int status, const char* why) {
    c.closeAfter = true;
    answer(c, status, "text/plain; charset=utf-8", std::string(why) + "\n");
  }

  void answer(Connection& c, int status, const char* type, std::string body, const std::string& extra = {}) {
    answer(c, status, type, std::make_shared<const std::string>(std::move(body)), extra);
  }

  void answer(Connection& c, int status, const char* type, std::shared_ptr<const std::string> body,
              const std::string& extra = {}) {
    std::string& h = c.head;
    h = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\nContent-Type: " + type +
        "\r\nContent-Length: " + std::to_string(body->size()) + "\r\n" + extra;
    for (const auto& [name, value] : watch_.current()->headers) h += name + ": " + value + "\r\n";
    if (c.closeAfter) h += "Connection: close\r\n";
    h += "\r\n";
    c.headOnly = c.request.method == "HEAD";
    if (!c.headOnly && body->size() <= kOneWriteLimit) {
      // One write, one segment: with TCP_NODELAY a head sent alone would go out as a packet of
      // its own and wake the client twice.
      h += *body;
      body = std::make_shared<const std::string>();
    }
    c.body = std::move(body);
    c.sent = 0;
    c.state = State::Writing;
    c.deadline = Clock::now() + limits_.requestTimeout;
    writeAnswer(c);
  }

  void writeAnswer(Connection& c) {
    for (;;) {
      const size_t total = c.head.size() + (c.headOnly ? 0 : c.body->size());
      if (c.sent == total) return answered(c);
      const char* data = c.sent < c.head.size() ? c.head.data() + c.sent : c.body->data() + (c.sent - c.head.size());
      const size_t size = c.sent < c.head.size() ? c.head.size() - c.sent : total - c.sent;
      size_t put = 0;
      StreamIo io = c.stream->write(data, size, put);
      if (io == StreamIo::Ok) {
        c.sent += put;
        continue;
      }
      if (io == StreamIo::WantRead || io == StreamIo::WantWrite) {
        c.blockedOn = io;
        return;
      }
      return close(c);
    }
  }

  void answered(Connection& c) {
    c.head.clear();
    c.head.shrink_to_fit();
    c.body.reset();
    const Clock::time_point now = Clock::now();
    if (c.closeAfter) {
      // End our side and read what the client still sends for a moment, so that closing does
      // not reset the connection before the client has read the answer.
      c.stream->finish();
      c.state = State::Draining;
      c.deadline = now + std::min<Clock::duration>(kLingerTime, limits_.requestTimeout);
      c.blockedOn = StreamIo::WantRead;
      c.in.clear();
      c.in.shrink_to_fit();
      return drain(c);
    }
    startReading(c, now);
    readRequest(c);  // a pipelined request may be here already
  }

  void drain(Connection& c) {
    char buffer[4096];
    // A plain client that asked for the close sends nothing more: once nothing of it is left to
    // read, the connection ends at once (the answer and the end of it still reach the client)
    // instead of waiting to see the client hang up.
    const bool askedToClose = c.plain && (c.request.wantsClose || c.request.http10) && !c.request.hasBody;
    for (;;) {
      size_t got = 0;
      StreamIo io = c.stream->read(buffer, sizeof buffer, got);
      if (io == StreamIo::Ok && (c.drained += got) <= kLingerBytes) continue;
      if (io == StreamIo::WantRead && askedToClose) return close(c);
      if (io == StreamIo::WantRead || io == StreamIo::WantWrite) {
        c.blockedOn = io;
        return;
      }
      return close(c);
    }
  }

  Render render_;
  Log log_;
  const HttpServerLimits limits_;
  WebConfigWatch watch_;
  Waker waker_;
  Socket listener_;
  uint16_t port_ = 0;
  bool tlsAtStart_ = false;
  std::atomic<bool> stopping_{false};
  Clock::time_point acceptPausedUntil_{};

  std::map<uint64_t, std::unique_ptr<Connection>> connections_;  // loop thread only
  uint64_t nextId_ = 1;
  std::vector<uint64_t> waitingForRender_;  // in the order their requests were read
  AuthCache authCache_;
  std::shared_ptr<const UserTable> cachedFor_;
  size_t pendingAuth_ = 0;

  std::mutex completionsMutex_;  // guards completions_; taken alone, never with a lane's lock
  std::vector<std::function<void()>> completions_;

  // Last: the thread ends (a check in progress first) while everything above still exists.
  std::unique_ptr<Lane> authLane_;
};

HttpServer::HttpServer(Render render, Log log, HttpServerLimits limits)
    : render_(std::move(render)), log_(std::move(log)), limits_(limits) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(const ListenAddress& address, const std::string& webConfig, std::string& error) {
  stop();
  auto loop = std::make_unique<Loop>(render_, log_, limits_, webConfig);
  if (!loop->open(address, error)) return false;
  loop_ = std::move(loop);
  thread_ = std::thread([loop = loop_.get()] { loop->run(); });
  return true;
}

uint16_t HttpServer::port() const { return loop_ ? loop_->port_ : 0; }

bool HttpServer::tls() const { return loop_ && loop_->tlsAtStart_; }

void HttpServer::stop() {
  if (!loop_) return;
  loop_->requestStop();
  if (thread_.joinable()) thread_.join();
  loop_.reset();
}

}  // namespace vhost
