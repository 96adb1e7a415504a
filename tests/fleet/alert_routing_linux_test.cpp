// A fleet end to end: three runners on fixture machines, Prometheus with the shipped rules and
// Alertmanager routing to a webhook on loopback. The CPU and memory alerts reach the webhook
// naming their machines, nothing else arrives, and each resolves when its machine calms down.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/runner_driver.h"
#include "support/linux/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using statrix_test::ChildProcess;
using statrix_test::Json;
using Clock = std::chrono::steady_clock;

constexpr char kPrometheus[] = "/usr/bin/prometheus";
constexpr char kAlertmanager[] = "/usr/bin/prometheus-alertmanager";
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr uint64_t kTotalKb = 16u << 20;

// The shipped rules with every duration shortened, a minute to a second (`for: 10m` becomes
// `for: 10s`, `[1h]` becomes `[60s]`), so that the test sees with 1-s scrapes in seconds what a
// fleet sees with 15-s scrapes in minutes. Thresholds stay as shipped.
std::string shortenedRules(const std::string& rules) {
  static const std::regex duration(R"((for: |\[)(\d+)([mh])\b)");
  std::string out;
  auto last = rules.cbegin();
  for (std::sregex_iterator it(rules.begin(), rules.end(), duration), end; it != end; ++it) {
    const std::smatch& m = *it;
    out.append(last, m[0].first);
    const long seconds = std::stol(m[2].str()) * (m[3] == "h" ? 60 : 1);
    out += m[1].str() + std::to_string(seconds) + "s";
    last = m[0].second;
  }
  out.append(last, rules.cend());
  return out;
}

// One machine: its procfs tree, a staging tree whose files are renamed into it (the runner never
// reads half a file), the load the feeder gives it and the runner watching it.
struct Machine {
  std::string name;
  statrix_test::FixtureTree tree, staging;
  std::atomic<int> busyPercent{5};
  std::atomic<uint64_t> availableKb{kTotalKb / 2};
  uint64_t publishedAvailableKb = 0;
  statrix_test::FakeCpu cpu;
  int port = statrix_test::freeLoopbackPort();
  std::unique_ptr<ChildProcess> runner;

  explicit Machine(std::string n) : name(std::move(n)) { feed(); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }

  // One tick of 100 clock ticks at the current load; memory when it changed.
  void feed() {
    const int busy = busyPercent.load();
    cpu.user += static_cast<uint64_t>(busy);
    cpu.idle += static_cast<uint64_t>(100 - busy);
    staging.setCpus({cpu});
    fs::rename(fs::path(staging.root()) / "stat", fs::path(tree.root()) / "stat");
    const uint64_t available = availableKb.load();
    if (available != publishedAvailableKb) {
      staging.setMeminfo(kTotalKb, available);
      fs::rename(fs::path(staging.root()) / "meminfo", fs::path(tree.root()) / "meminfo");
      publishedAvailableKb = available;
    }
  }
};

// Feeds every machine every 100 ms until it goes.
class Feeder {
 public:
  explicit Feeder(std::vector<std::unique_ptr<Machine>>& machines)
      : thread_([this, &machines] {
          while (!stop_) {
            for (auto& m : machines) m->feed();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          }
        }) {}
  ~Feeder() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One alert as a notification carried it.
struct Received {
  std::string alertname, instance, status, summary, description;
  Clock::time_point at;
};

// The webhook receiver: every alert of every notification, with the time it arrived.
class Webhook {
 public:
  Webhook() {
    server_.Post("/", [this](const httplib::Request& request, httplib::Response&) {
      const Json body = Json::parse(request.body, nullptr, false);
      std::lock_guard<std::mutex> lock(mutex_);
      if (body.is_discarded() || !body.contains("alerts")) {
        malformed_.push_back(request.body);
        return;
      }
      for (const Json& a : body["alerts"])
        received_.push_back({a["labels"].value("alertname", ""), a["labels"].value("instance", ""),
                             a.value("status", ""), a["annotations"].value("summary", ""),
                             a["annotations"].value("description", ""), Clock::now()});
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Webhook() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::vector<Received> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  std::vector<std::string> malformed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return malformed_;
  }
  // When the first alert with these fields arrived, if it has.
  std::optional<Clock::time_point> arrival(const std::string& alertname, const std::string& instance,
                                           const std::string& status) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Received& r : received_)
      if (r.alertname == alertname && r.instance == instance && r.status == status) return r.at;
    return std::nullopt;
  }

 private:
  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<Received> received_;
  std::vector<std::string> malformed_;
};

bool answers(int port, const std::string& path) {
  httplib::Client c("127.0.0.1", port);
  c.set_connection_timeout(1);
  c.set_read_timeout(5);
  auto res = c.Get(path);
  return res && res->status == 200;
}

// The value of the single series `query` selects, as Prometheus returns it (text); empty while
// there is none.
std::string queryValue(int port, const std::string& query) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(5);
  auto res = c.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
  if (!res || res->status != 200) return "";
  Json body = Json::parse(res->body, nullptr, false);
  if (body.is_discarded() || body["status"] != "success") return "";
  const Json& result = body["data"]["result"];
  if (!result.is_array() || result.size() != 1) return "";
  return result[0]["value"][1].get<std::string>();
}

// What Prometheus holds of the figures and alerts, for failure messages.
std::string prometheusView(int port) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(5);
  std::string view;
  for (const char* query : {"statrix_system_cpu_percent", "statrix_memory_load_percent", "ALERTS"}) {
    auto res = c.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
    view += std::string(query) + ": " + (res ? res->body : "no answer") + "\n";
  }
  return view;
}

double secondsSince(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

TEST(Fleet, AlertsReachTheWebhookNamingTheirMachinesAndResolve) {
  for (const char* program : {kPrometheus, kAlertmanager})
    if (access(program, X_OK) != 0) GTEST_SKIP() << program << " is not installed (see scripts/setup)";
  const char* source = std::getenv("STATRIX_SOURCE");
  ASSERT_NE(source, nullptr) << "STATRIX_SOURCE names the source tree (set by ctest)";
  statrix_test::ScratchDir dir;

  // Three machines, all calm (5 % CPU, half the memory in use) to begin with, a pass every 5 s.
  // The plug-in's own thresholds are at 100 %, out of reach, so its alarm counters stay still
  // (at 0 it would not measure the figures at all): only the endpoint's figures move.
  std::vector<std::unique_ptr<Machine>> machines;
  for (const char* name : {"calm", "cpu", "memory"}) machines.push_back(std::make_unique<Machine>(name));
  Machine &calm = *machines[0], &cpuMachine = *machines[1], &memoryMachine = *machines[2];
  Feeder feeder(machines);
  for (auto& m : machines) {
    m->runner = std::make_unique<ChildProcess>(
        std::vector<std::string>{statrix_test::hostBinary(), "--registry", dir.path() + "/registry-" + m->name,
                                 "--procfs", m->tree.root(), "--metrics-listen", m->address(), "--set",
                                 "SamplingIntervalSeconds=5", "--set", "OverallCpuPercentage=100", "--set",
                                 "OverallMemoryPercentage=100"},
        std::vector<std::pair<std::string, std::string>>{}, dir.path() + "/runner-" + m->name);
  }
  for (auto& m : machines)
    ASSERT_TRUE(statrix_test::waitUntil([&] { return !m->runner->running() || answers(m->port, "/"); },
                                        kStartTimeout) &&
                m->runner->running())
        << m->name << ": " << m->runner->output();

  Webhook webhook;
  ASSERT_GT(webhook.port(), 0);
  const int alertmanagerPort = statrix_test::freeLoopbackPort();
  const std::string alertmanagerConfig = dir.write(
      "alertmanager.yml",
      "route:\n  receiver: webhook\n  group_by: [alertname, instance]\n  group_wait: 1s\n  group_interval: 1s\n"
      "  repeat_interval: 1h\nreceivers:\n  - name: webhook\n    webhook_configs:\n"
      "      - url: http://127.0.0.1:" +
          std::to_string(webhook.port()) + "/\n        send_resolved: true\n");
  ChildProcess alertmanager({kAlertmanager, "--config.file=" + alertmanagerConfig,
                             "--storage.path=" + dir.path() + "/alertmanager",
                             "--web.listen-address=127.0.0.1:" + std::to_string(alertmanagerPort),
                             "--cluster.listen-address=", "--log.level=warn"},
                            {}, dir.path() + "/alertmanager");

  // Targets come from a file, as in a fleet (file-based service discovery).
  std::string targets;
  for (auto& m : machines) targets += std::string(targets.empty() ? "" : ", ") + "\"" + m->address() + "\"";
  dir.write("targets.json", "[{\"targets\": [" + targets + "]}]\n");
  const std::string rules =
      dir.write("statrix.rules.yml",
                shortenedRules(statrix_test::readFile(std::string(source) + "/packaging/prometheus/statrix.rules.yml")));
  const int prometheusPort = statrix_test::freeLoopbackPort();
  const std::string prometheusConfig = dir.write(
      "prometheus.yml",
      "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
      "rule_files: ['" +
          rules + "']\nalerting:\n  alertmanagers:\n    - static_configs:\n        - targets: ['127.0.0.1:" +
          std::to_string(alertmanagerPort) +
          "']\nscrape_configs:\n  - job_name: statrix\n    file_sd_configs:\n      - files: ['" + dir.path() +
          "/targets.json']\n");
  ChildProcess prometheus({kPrometheus, "--config.file=" + prometheusConfig,
                           "--storage.tsdb.path=" + dir.path() + "/tsdb",
                           "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                          {}, dir.path() + "/prometheus");
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        return !alertmanager.running() || !prometheus.running() ||
               (answers(alertmanagerPort, "/-/ready") &&
                queryValue(prometheusPort, "count(up == 1) + count(statrix_system_cpu_percent)") == "6");
      },
      kStartTimeout) &&
              alertmanager.running() && prometheus.running())
      << prometheus.output() << alertmanager.output();

  // The busy phase: one machine's CPU, another's memory go over 90 %.
  const auto overAt = Clock::now();
  cpuMachine.busyPercent = 97;
  memoryMachine.availableKb = kTotalKb * 4 / 100;  // 96 % load
  auto firing = [&](Machine& m, const char* alert) { return webhook.arrival(alert, m.address(), "firing"); };
  EXPECT_TRUE(statrix_test::waitUntil(
      [&] { return firing(cpuMachine, "StatrixCpuHigh") && firing(memoryMachine, "StatrixMemoryHigh"); },
      std::chrono::seconds(45)))
      << prometheusView(prometheusPort) << prometheus.output() << alertmanager.output();

  // Calm again: both resolve.
  const auto calmAt = Clock::now();
  cpuMachine.busyPercent = 5;
  memoryMachine.availableKb = kTotalKb / 2;
  auto resolved = [&](Machine& m, const char* alert) { return webhook.arrival(alert, m.address(), "resolved"); };
  EXPECT_TRUE(statrix_test::waitUntil(
      [&] { return resolved(cpuMachine, "StatrixCpuHigh") && resolved(memoryMachine, "StatrixMemoryHigh"); },
      std::chrono::seconds(30)))
      << prometheusView(prometheusPort) << prometheus.output() << alertmanager.output();

  // Exactly those alerts, each naming its machine; nothing about the calm machine.
  std::set<std::tuple<std::string, std::string, std::string>> got;
  for (const Received& r : webhook.received()) {
    got.insert({r.alertname, r.instance, r.status});
    EXPECT_NE(r.summary.find(r.instance), std::string::npos) << r.summary;
    EXPECT_NE(r.description.find(r.instance), std::string::npos) << r.description;
    EXPECT_NE(r.instance, calm.address()) << r.alertname;
  }
  const std::set<std::tuple<std::string, std::string, std::string>> expected = {
      {"StatrixCpuHigh", cpuMachine.address(), "firing"},
      {"StatrixCpuHigh", cpuMachine.address(), "resolved"},
      {"StatrixMemoryHigh", memoryMachine.address(), "firing"},
      {"StatrixMemoryHigh", memoryMachine.address(), "resolved"}};
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(webhook.malformed().empty()) << webhook.malformed().front();
  for (auto [machine, alert] : {std::pair{&cpuMachine, "StatrixCpuHigh"}, std::pair{&memoryMachine, "StatrixMemoryHigh"}}) {
    if (auto at = firing(*machine, alert)) std::cout << alert << ": over the threshold to the webhook in "
                                                     << secondsSince(overAt, *at) << " s\n";
    if (auto at = resolved(*machine, alert)) std::cout << alert << ": calm to the resolved notification in "
                                                       << secondsSince(calmAt, *at) << " s\n";
  }

  prometheus.signal(SIGTERM);
  alertmanager.signal(SIGTERM);
  EXPECT_TRUE(prometheus.wait(std::chrono::seconds(20)).has_value()) << prometheus.output();
  EXPECT_TRUE(alertmanager.wait(std::chrono::seconds(20)).has_value()) << alertmanager.output();
  for (auto& m : machines) {
    m->runner->signal(SIGTERM);
    EXPECT_EQ(m->runner->wait(std::chrono::seconds(20)), 0) << m->name << ": " << m->runner->output();
  }
}

}  // namespace
