// A real Prometheus (Debian package prometheus) scrapes the endpoint over TLS with basic_auth
// and client certificates: right and wrong credentials, plain HTTP to the TLS port, a client
// certificate of another authority, the server certificate replaced while it scrapes, and
// hostile clients beside it, each bounded in count and time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "metrics/http_server.h"
#include "support/linux/child_process.h"
#include "support/linux/scratch_dir.h"
#include "support/linux/test_pki.h"

namespace vhost {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kPrometheus[] = "/usr/bin/prometheus";
// htpasswd -nbBC 10 scraper s3cret: the cost a real installation would use.
constexpr char kHash[] = "$2y$10$hppxR/a.PxnvGcAoM5L0les4DObUT8uEB6hjLSZjOgn4nnx3fG9N.";

std::string body() {
  static std::atomic<int> renders{0};
  return "# HELP statrix_test_renders_total Renders.\n# TYPE statrix_test_renders_total counter\n"
         "statrix_test_renders_total " +
         std::to_string(++renders) + "\n";
}

// The value of the single series `query` selects; empty while there is none.
std::string query(int port, const std::string& q) {
  std::string out;
  statrix_test::runCommand("curl -s --max-time 5 http://127.0.0.1:" + std::to_string(port) +
                               "/api/v1/query --data-urlencode 'query=" + q + "'",
                           out);
  nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
  if (j.is_discarded() || j["status"] != "success") return "";
  const auto& result = j["data"]["result"];
  if (!result.is_array() || result.size() != 1) return "";
  return result[0]["value"][1].get<std::string>();
}

int connectTo(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Runs `client` on `threads` threads until `duration` has passed.
void during(std::chrono::milliseconds duration, int threads, const std::function<void(Clock::time_point)>& client) {
  const auto until = Clock::now() + duration;
  std::vector<std::thread> pool;
  for (int i = 0; i < threads; ++i) pool.emplace_back([&] { client(until); });
  for (auto& t : pool) t.join();
}

TEST(PrometheusScrape, TlsBasicAuthRotationAndHostileClients) {
  if (access(kPrometheus, X_OK) != 0) GTEST_SKIP() << kPrometheus << " is not installed (Debian package prometheus)";
  statrix_test::ScratchDir dir;
  statrix_test::TestPki pki(dir.path());
  ASSERT_TRUE(pki.ok()) << pki.log();
  const std::string webConfig =
      dir.write("web.yml", std::string("tls_server_config:\n  cert_file: server.pem\n  key_file: server.key\n"
                                       "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.pem\n"
                                       "basic_auth_users:\n  scraper: ") +
                               kHash + "\n");
  std::string logged;
  std::mutex logMutex;  // guards logged
  HttpServer secure(body, [&](const std::string& l) {
    std::lock_guard lock(logMutex);
    logged += l + "\n";
  });
  HttpServer plain(body, [](const std::string&) {});
  std::string error;
  ASSERT_TRUE(secure.start({"127.0.0.1", 0}, webConfig, error)) << error;
  ASSERT_TRUE(plain.start({"127.0.0.1", 0}, "", error)) << error;
  const std::string target = "['127.0.0.1:" + std::to_string(secure.port()) + "']";

  auto job = [&](const std::string& name, const std::string& client, const std::string& password) {
    return "  - job_name: " + name + "\n    scheme: https\n    static_configs: [{targets: " + target +
           "}]\n    basic_auth: {username: scraper, password: " + password + "}\n    tls_config:\n      ca_file: " +
           pki.file("ca.pem") + "\n      cert_file: " + pki.file(client + ".pem") +
           "\n      key_file: " + pki.file(client + ".key") + "\n";
  };
  const int promPort = statrix_test::freeLoopbackPort();
  const std::string config = dir.write(
      "prometheus.yml", "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n" +
                            job("good", "client", "s3cret") + job("wrongpass", "client", "guess") +
                            job("foreign", "other-client", "s3cret") + "  - job_name: http\n    static_configs: [{targets: " +
                            target + "}]\n  - job_name: plain\n    static_configs: [{targets: ['127.0.0.1:" +
                            std::to_string(plain.port()) + "']}]\n");
  statrix_test::ChildProcess prometheus(
      {kPrometheus, "--config.file=" + config, "--storage.tsdb.path=" + dir.path() + "/tsdb",
       "--web.listen-address=127.0.0.1:" + std::to_string(promPort), "--log.level=warn"},
      {}, dir.path() + "/prometheus");
  auto up = [&](const std::string& jobName) { return query(promPort, "up{job=\"" + jobName + "\"}"); };
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] { return (up("good") == "1" && up("wrongpass") == "0" && up("foreign") == "0" && up("http") == "0") ||
                   !prometheus.running(); },
      60s))
      << prometheus.output() << "good=" << up("good") << " wrongpass=" << up("wrongpass") << " foreign=" << up("foreign")
      << " http=" << up("http");
  ASSERT_TRUE(statrix_test::waitUntil([&] { return up("plain") == "1"; }, 20s));
  // The wrong password was answered 401 (Prometheus reports the status it got).
  std::string out;
  statrix_test::runCommand("curl -s http://127.0.0.1:" + std::to_string(promPort) + "/api/v1/targets", out);
  EXPECT_NE(out.find("401 Unauthorized"), std::string::npos) << out.substr(0, 2000);

  // A TLS scrape beside a plain one, once bcrypt is cached: Prometheus's own measure.
  std::this_thread::sleep_for(6s);
  std::cout << "[ figures  ] scrape duration over TLS+auth (avg 5s): "
            << query(promPort, "avg_over_time(scrape_duration_seconds{job=\"good\"}[5s])")
            << " s, plain: " << query(promPort, "avg_over_time(scrape_duration_seconds{job=\"plain\"}[5s])") << " s\n";

  // The certificate is replaced while Prometheus scrapes: no scrape fails.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(pki.reissueServer("server.pem")) << pki.log();
    std::this_thread::sleep_for(2s);
  }
  {
    std::lock_guard lock(logMutex);
    EXPECT_NE(logged.find("reloaded"), std::string::npos) << logged;
  }

  // Hostile clients, one kind at a time, each for 6 s; the good job must not miss a scrape.
  const uint16_t port = secure.port();
  const std::vector<std::pair<std::string, std::function<void()>>> hostile = {
      {"1000 idle connections",
       [&] {
         std::vector<int> fds;
         for (int i = 0; i < 1000; ++i) fds.push_back(connectTo(port));
         std::this_thread::sleep_for(6s);
         for (int fd : fds) close(fd);
       }},
      {"64 connections sending a byte a second",
       [&] {
         during(6s, 4, [&](Clock::time_point until) {
           std::vector<int> fds(16, -1);
           while (Clock::now() < until) {
             for (int& fd : fds) {
               if (fd < 0) fd = connectTo(port);
               if (fd >= 0 && send(fd, "\x16", 1, MSG_NOSIGNAL) != 1) {
                 close(fd);
                 fd = -1;
               }
             }
             std::this_thread::sleep_for(1s);
           }
           for (int fd : fds) close(fd);
         });
       }},
      {"4 clients sending 200 MB heads",
       [&] {
         during(6s, 4, [&](Clock::time_point until) {
           const std::string filler(64 * 1024, 'x');
           while (Clock::now() < until) {
             int fd = connectTo(port);
             for (size_t sent = 0; fd >= 0 && sent < 200u << 20 && Clock::now() < until; sent += filler.size())
               if (send(fd, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0) break;
             if (fd >= 0) close(fd);
           }
         });
       }},
      {"4 clients flooding wrong passwords",
       [&] {
         during(6s, 4, [&](Clock::time_point until) {
           for (int i = 0; Clock::now() < until && i < 1000; ++i) {
             std::string ignored;
             statrix_test::runCommand("curl -s -o /dev/null --max-time 2 --cacert " + pki.file("ca.pem") + " --cert " +
                                          pki.file("client.pem") + " --key " + pki.file("client.key") +
                                          " -u scraper:guess" + std::to_string(rand()) + " https://127.0.0.1:" +
                                          std::to_string(port) + "/metrics",
                                      ignored);
           }
         });
       }},
  };
  for (const auto& [name, client] : hostile) {
    client();
    std::this_thread::sleep_for(1500ms);  // the scrapes of the last second land
    EXPECT_EQ(query(promPort, "min_over_time(up{job=\"good\"}[7s])"), "1") << name;
    std::cout << "[ figures  ] " << name << ": longest scrape "
              << query(promPort, "max_over_time(scrape_duration_seconds{job=\"good\"}[7s])") << " s\n";
  }
  // Every scrape since the first good one succeeded, across rotation and hostile clients.
  EXPECT_EQ(query(promPort, "min_over_time(up{job=\"good\"}[45s])"), "1");
  prometheus.signal(SIGTERM);
  EXPECT_TRUE(prometheus.wait(60s).has_value()) << prometheus.output();
}

}  // namespace
}  // namespace vhost
