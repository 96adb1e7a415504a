// The endpoint's HTTP server in process: pipelining, refusals, bounds on hostile clients,
// stopping, TLS with client certificates, basic authentication and live reloading (clients:
// raw sockets, curl and openssl s_client).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "metrics/http_server.h"
#include "support/linux/child_process.h"
#include "support/linux/scratch_dir.h"
#include "support/linux/test_pki.h"

namespace vhost {
namespace {

using Clock = std::chrono::steady_clock;
using statrix_test::openDescriptors;
using namespace std::chrono_literals;

constexpr char kBody[] = "# HELP up_test x\n# TYPE up_test gauge\nup_test 1\n";
// htpasswd -nbBC 4 scraper s3cret
constexpr char kHash[] = "$2y$04$NaCNn27qt/L4wStySEBaV.cTWaN0d9g6DAZJZgRYN.6yc6MP85ouC";

struct Server {
  std::mutex mutex;  // guards logged
  std::vector<std::string> logged;
  HttpServer server;
  explicit Server(HttpServerLimits limits = {})
      : server([] { return std::string(kBody); },
               [this](const std::string& line) {
                 std::lock_guard lock(mutex);
                 logged.push_back(line);
               },
               limits) {}
  bool start(const std::string& webConfig, std::string& error) {
    return server.start({"127.0.0.1", 0}, webConfig, error);
  }
  std::string log() {
    std::lock_guard lock(mutex);
    std::string all;
    for (const std::string& l : logged) all += l + "\n";
    return all;
  }
};

// A raw client socket with a receive time-out.
struct Client {
  int fd = -1;
  explicit Client(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~Client() {
    if (fd >= 0) ::close(fd);
  }
  bool send(const std::string& s) { return fd >= 0 && ::send(fd, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size()); }
  // Everything until the peer closes or `limit` passes without data.
  std::string readAll(std::chrono::milliseconds limit = 5000ms) {
    std::string out;
    char buffer[65536];
    pollfd p{fd, POLLIN, 0};
    while (fd >= 0 && poll(&p, 1, static_cast<int>(limit.count())) == 1) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }
  // Whether the server closed the connection within `limit`.
  bool closedWithin(std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return poll(&p, 1, static_cast<int>(limit.count())) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
  }
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(HttpServer, PipelinedRequestsAreAnsweredInOrderAndRefusalsClose) {
  Server s;
  std::string error;
  ASSERT_TRUE(s.start("", error)) << error;
  {
    Client c(s.server.port());
    ASSERT_TRUE(c.send("GET / HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\nHEAD /metrics HTTP/1.1\r\n\r\n"
                       "GET /nothing HTTP/1.1\r\n\r\n"));
    std::string got = c.readAll(1000ms);
    ASSERT_EQ(count(got, "HTTP/1.1 "), 4u) << got;
    const size_t index = got.find("text/html"), metrics = got.find(kBody), head = got.find("HTTP/1.1 200", metrics),
                 missing = got.find("HTTP/1.1 404");
    EXPECT_TRUE(index < metrics && metrics < head && head < missing && missing != std::string::npos) << got;
    EXPECT_EQ(count(got, kBody), 1u) << "HEAD has no body: " << got;
    EXPECT_FALSE(c.closedWithin(100ms)) << "keep-alive";
  }
  // Each of these is answered and the connection ends: nothing after it is read as a request.
  const std::pair<std::string, std::string> refused[] = {
      {"GET /metrics HTTP/1.1\r\nContent-Length: 2048\r\n\r\n" + std::string(2048, 'x'), "HTTP/1.1 400"},
      {"GET /metrics HTTP/1.1\r\nContent-Length: 30\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd", "HTTP/1.1 405"},
      {"GET /metrics HTTP/1.1\r\n" + std::string(9000, 'X') + ": y\r\n\r\n", "HTTP/1.1 431"},
      {"GET /metrics HTTP/1.1\r\nX: y\r\n" + std::string(200, 'Z') + "\r\n\r\n", "HTTP/1.1 400"},
      {"GET /metrics HTTP/1.0\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200"},
      {"GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\nGET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200"},
  };
  for (const auto& [request, status] : refused) {
    Client c(s.server.port());
    ASSERT_TRUE(c.send(request));
    std::string got = c.readAll(2000ms);  // ends when the server closes
    EXPECT_TRUE(got.starts_with(status)) << request.substr(0, 60) << " -> " << got.substr(0, 60);
    EXPECT_EQ(count(got, "HTTP/1.1 "), 1u) << request.substr(0, 60) << " -> " << got;
  }
  // A head of 200 MB is cut off at the bound: 431 after a few KiB, the rest never read.
  Client big(s.server.port());
  ASSERT_TRUE(big.send("GET /metrics HTTP/1.1\r\n"));
  const std::string lines = [] {
    std::string l;
    for (int i = 0; i < 1000; ++i) l += "X-Filler: " + std::string(1000, 'f') + "\r\n";
    return l;
  }();
  for (int i = 0; i < 200 && big.send(lines); ++i) {
  }
  EXPECT_TRUE(big.readAll(2000ms).starts_with("HTTP/1.1 431"));
}

TEST(HttpServer, AConnectionTheClientAskedToCloseEndsWithItsAnswer) {
  // The server lets go of the connection as soon as the answer is out, without waiting for the
  // client to hang up (the client still reads the whole answer and its end); a refusal the
  // client did not ask for lingers, reading what the client still sends.
  Server s;
  std::string error;
  ASSERT_TRUE(s.start("", error)) << error;
  auto serverLetGo = [](size_t before) {
    for (int i = 0; i < 50; ++i) {
      if (openDescriptors() == before + 1) return true;  // the client's own socket alone
      std::this_thread::sleep_for(10ms);
    }
    return false;
  };
  for (const char* request : {"GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n", "GET /metrics HTTP/1.0\r\n\r\n"}) {
    const size_t before = openDescriptors();
    Client c(s.server.port());
    ASSERT_TRUE(c.send(request));
    const std::string got = c.readAll(2000ms);
    EXPECT_TRUE(got.starts_with("HTTP/1.1 200") && got.ends_with(kBody)) << got;
    EXPECT_TRUE(serverLetGo(before)) << request << ": the server waited for the client to hang up";
  }
  Client refused(s.server.port());
  ASSERT_TRUE(refused.send("GET /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\n"));
  EXPECT_TRUE(refused.readAll(300ms).starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(refused.send("abcde")) << "still read while lingering";
}

TEST(HttpServer, IdleAndSlowClientsNeitherStarveAScrapeNorDelayStop) {
  HttpServerLimits limits;
  limits.requestTimeout = 1500ms;  // short, so that the deadline check ends within the test
  Server s(limits);
  std::string error;
  ASSERT_TRUE(s.start("", error)) << error;
  const uint16_t port = s.server.port();

  // 1,000 connections that send nothing, and 8 that send a header byte every 100 ms.
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(std::make_unique<Client>(port));
  std::vector<std::unique_ptr<Client>> slow;
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<Client>(port));
    slow.back()->send("GET /metrics HTTP/1.1\r\n");
  }
  std::atomic<bool> dripping{true};
  std::thread drip([&] {
    for (int tick = 0; tick < 100 && dripping; ++tick) {  // at most 10 s
      for (auto& c : slow) c->send("X");
      std::this_thread::sleep_for(100ms);
    }
  });
  for (int round = 0; round < 5; ++round) {
    const auto begun = Clock::now();
    Client scrape(port);
    ASSERT_TRUE(scrape.send("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"));
    const std::string got = scrape.readAll(3000ms);
    const auto took = Clock::now() - begun;
    EXPECT_TRUE(got.starts_with("HTTP/1.1 200")) << got;
    EXPECT_LT(took, 1000ms) << "round " << round;
    std::this_thread::sleep_for(300ms);
  }
  // A client that keeps sending but never finishes its head is closed at the deadline counted
  // from its accept, not from its last byte.
  {
    const auto begun = Clock::now();
    Client dribble(port);
    dribble.send("GET /metrics HTTP/1.1\r\n");
    bool closed = false;
    for (int i = 0; i < 40 && !closed; ++i) {
      dribble.send("Y");
      closed = dribble.closedWithin(100ms);
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - begun, 3000ms);
  }
  // Stopping does not wait for any of them.
  const auto begun = Clock::now();
  s.server.stop();
  EXPECT_LT(Clock::now() - begun, 1000ms);
  dripping = false;
  drip.join();
}

// The TLS and authentication set-up shared by the tests below.
struct SecureServer {
  statrix_test::ScratchDir dir;
  statrix_test::TestPki pki{dir.path()};
  Server s;
  std::string config;

  std::string writeConfig(const std::string& clientAuth, const std::string& users = std::string("  scraper: ") + kHash) {
    std::string text = "tls_server_config:\n  cert_file: server.pem\n  key_file: server.key\n";
    if (!clientAuth.empty()) text += "  client_auth_type: " + clientAuth + "\n  client_ca_file: ca.pem\n";
    if (!users.empty()) text += "basic_auth_users:\n" + users + "\n";
    text += "http_server_config:\n  headers:\n    X-Content-Type-Options: nosniff\n";
    return config = dir.write("web.yml", text);
  }
  // curl's answer: the status code ("000" when there is none) and the headers.
  std::string curl(const std::string& options) {
    std::string out;
    statrix_test::runCommand("curl -sS -D - -o /dev/null --max-time 5 -w 'code=%{http_code}' --cacert " +
                                 pki.file("ca.pem") + " " + options + " https://127.0.0.1:" +
                                 std::to_string(s.server.port()) + "/metrics",
                             out);
    return out;
  }
};

TEST(HttpServer, TlsWithBasicAuthAnswersOnlyTheRightPassword) {
  SecureServer t;
  ASSERT_TRUE(t.pki.ok()) << t.pki.log();
  std::string error;
  ASSERT_TRUE(t.s.start(t.writeConfig(""), error)) << error;
  const std::string good = t.curl("-u scraper:s3cret");
  EXPECT_NE(good.find("code=200"), std::string::npos) << good;
  EXPECT_NE(good.find("X-Content-Type-Options: nosniff"), std::string::npos) << good;
  for (const char* who : {"-u scraper:wrong", "-u nobody:s3cret", "", "-H 'Authorization: Basic !!'"}) {
    const std::string got = t.curl(who);
    EXPECT_NE(got.find("code=401"), std::string::npos) << who << ": " << got;
    EXPECT_NE(got.find("WWW-Authenticate: Basic realm=\"statrix\""), std::string::npos) << who << ": " << got;
  }
  // Plain HTTP to the TLS port gets no answer.
  Client plain(t.s.server.port());
  plain.send("GET /metrics HTTP/1.1\r\n\r\n");
  EXPECT_EQ(plain.readAll(2000ms).find("HTTP/1.1 200"), std::string::npos);
}

TEST(HttpServer, ClientCertificateModes) {
  SecureServer t;
  ASSERT_TRUE(t.pki.ok()) << t.pki.log();
  const std::string own = "--cert " + t.pki.file("client.pem") + " --key " + t.pki.file("client.key");
  const std::string foreign = "--cert " + t.pki.file("other-client.pem") + " --key " + t.pki.file("other-client.key");
  struct Case {
    std::string mode;
    bool none, ownCa, otherCa;  // answered 200 with no certificate, ours, another authority's
  };
  const Case cases[] = {
      {"RequestClientCert", true, true, true},
      {"RequireAnyClientCert", false, true, true},
      {"VerifyClientCertIfGiven", true, true, false},
      {"RequireAndVerifyClientCert", false, true, false},
  };
  for (const Case& c : cases) {
    t.writeConfig(c.mode, "");
    std::string error;
    ASSERT_TRUE(t.s.server.start({"127.0.0.1", 0}, t.config, error)) << error;
    for (const auto& [options, expected] : {std::pair{std::string(), c.none}, {own, c.ownCa}, {foreign, c.otherCa}}) {
      const std::string got = t.curl(options);
      EXPECT_EQ(got.find("code=200") != std::string::npos, expected) << c.mode << " " << options << ": " << got;
    }
    t.s.server.stop();
  }
}

TEST(HttpServer, ConfigurationIsReloadedAndABadOneKeepsTheLastGood) {
  SecureServer t;
  ASSERT_TRUE(t.pki.ok()) << t.pki.log();
  std::string error;
  ASSERT_TRUE(t.s.start(t.writeConfig(""), error)) << error;
  const std::string before = t.pki.serialOf(t.pki.file("server.pem"));
  auto presented = [&] {
    std::string out;
    statrix_test::runCommand("openssl s_client -connect 127.0.0.1:" + std::to_string(t.s.server.port()) +
                                 " -CAfile " + t.pki.file("ca.pem") +
                                 " </dev/null 2>/dev/null | openssl x509 -noout -serial",
                             out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  EXPECT_EQ(presented(), before);
  ASSERT_TRUE(t.pki.reissueServer("server.pem")) << t.pki.log();
  const std::string after = t.pki.serialOf(t.pki.file("server.pem"));
  ASSERT_NE(after, before);
  EXPECT_TRUE(statrix_test::waitUntil([&] { return presented() == after; }, 5000ms)) << t.s.log();

  // A file that does not parse: logged, and the old users still get in.
  t.dir.write("web.yml", "tls_server_config:\n  cert_file: server.pem\n  kye_file: x\n");
  EXPECT_TRUE(statrix_test::waitUntil([&] { return t.s.log().find("kye_file") != std::string::npos; }, 5000ms))
      << t.s.log();
  EXPECT_NE(t.curl("-u scraper:s3cret").find("code=200"), std::string::npos);
  // A good one with another user takes over: the cached verdict for the old user goes with it.
  t.writeConfig("", std::string("  reader: ") + kHash);
  EXPECT_TRUE(statrix_test::waitUntil(
      [&] { return t.curl("-u scraper:s3cret").find("code=401") != std::string::npos; }, 5000ms))
      << t.s.log();
  EXPECT_NE(t.curl("-u reader:s3cret").find("code=200"), std::string::npos);
}

TEST(HttpServer, StartRefusesUnusableConfigurationsNamingWhy) {
  SecureServer t;
  ASSERT_TRUE(t.pki.ok()) << t.pki.log();
  const std::pair<std::string, std::string> cases[] = {
      {"tls_server_config:\n  cert_file: missing.pem\n  key_file: server.key\n", "missing.pem"},
      {"tls_server_config:\n  cert_file: server.pem\n  key_file: client.key\n", "client.key"},
      {"tls_server_config:\n  cert_file: server.pem\n  key_file: server.key\n  client_auth_type: "
       "RequireAndVerifyClientCert\n  client_ca_file: nothing.pem\n",
       "nothing.pem"},
      {"basic_auth_users:\n  u: x\nextra: 1\n", "extra"},
  };
  for (const auto& [yaml, expected] : cases) {
    Server s;
    std::string error;
    EXPECT_FALSE(s.start(t.dir.write("bad.yml", yaml), error)) << yaml;
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_NE(error.find("bad.yml"), std::string::npos) << error;
  }
  Server s;
  std::string error;
  EXPECT_FALSE(s.start(t.dir.path() + "/absent.yml", error));
  EXPECT_NE(error.find("absent.yml"), std::string::npos) << error;
}

}  // namespace
}  // namespace vhost
