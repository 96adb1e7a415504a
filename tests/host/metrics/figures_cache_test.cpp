// The figures behind the metrics endpoint: one shared request round, what is read from the
// plug-in's bags and broadcasts (and what is left out), the text a scrape gives, and the text
// writer's escaping and number forms.
#include "metrics/figures_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "metrics/metrics_exposition.h"
#include "metrics/prometheus_text.h"
#include "well_known_names.h"

namespace vhost {
namespace {

// A worker stand-in: answers "collectCpuAndMem" (with details when asked) and "collect"; can
// hold the first request until released.
struct FakeWorker {
  std::mutex mutex;
  std::condition_variable cv;
  bool hold = false;
  bool cpuMeasured = true;
  int waiting = 0;
  std::atomic<int> cpuMemRequests{0};
  std::atomic<int> collectRequests{0};

  FiguresCache::Requester requester() {
    return [this](const std::wstring& op, CORE::PropertyBag& request, CORE::PropertyBag& reply) -> std::optional<bool> {
      if (op == L"collect") {
        ++collectRequests;
        CORE::PropertyBag store;
        store.add(L"AllSessions", L"4");
        for (const wchar_t* text : {L"n/a", L"nan", L"inf", L"-Infinity", L"1e999", L""})
          store.add(L"Broken", text);  // no finite number: left out
        store.add(L"AllSessions", L"9");  // a repeated name stays one series
        reply.setBag(L"globalCounters", store);
        return true;
      }
      ++cpuMemRequests;
      {
        std::unique_lock lock(mutex);
        ++waiting;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
      }
      const bool details = request.getBool(well_known::kWithDetails);
      auto value = [&](const wchar_t* metric, const wchar_t* object, const wchar_t* counter, const wchar_t* instance,
                       int64_t v) {
        reply.addInt64(metric, v);
        if (!details) return;
        CORE::PropertyBag d;
        d.add(L"strMetricName", metric);
        d.add(L"strCounterObject", object);
        d.add(L"strCounter", counter);
        d.add(L"strInstance", instance);
        d.addInt64(L"value", v);
        reply.addBag(well_known::kMetricValue, d, true);
      };
      value(L"pagesIn", L"Memory", L"Pages Input/sec", L"", 7);
      value(L"pagesIn", L"Memory", L"Pages Input/sec", L"", 8);  // a definition standing twice: first value
      value(L"NET", L"Network Interface", L"Bytes Total/sec", L"eth0", 0);
      value(L"NET", L"Network Interface", L"Bytes Total/sec", L"lo", 400000000);
      reply.setInt64(L"CPU", cpuMeasured ? 12 : 0);
      reply.setInt64(L"MEM", 34);
      reply.setInt64(L"TOTAL_MEMORY", 17179);
      reply.setInt64(L"FREE_MEMORY", 8589);
      if (details) {
        reply.setBool(well_known::kCpuMeasured, cpuMeasured);
        reply.setBool(well_known::kMemMeasured, true);
      }
      return true;
    };
  }
};

TEST(FiguresCache, ConcurrentScrapesShareOneRound) {
  FakeWorker worker;
  worker.hold = true;
  FiguresCache cache(worker.requester(), {});
  std::vector<std::string> texts(4);
  std::thread first([&] { texts[0] = cache.scrape(); });
  {
    std::unique_lock lock(worker.mutex);
    worker.cv.wait(lock, [&] { return worker.waiting == 1; });
  }
  // Three more scrapes arrive while the first round is held in the worker.
  std::vector<std::thread> more;
  for (int i = 1; i < 4; ++i) more.emplace_back([&, i] { texts[i] = cache.scrape(); });
  while (cache.scrapesJoined() < 3) std::this_thread::yield();
  {
    std::lock_guard lock(worker.mutex);
    worker.hold = false;
    worker.cv.notify_all();
  }
  first.join();
  for (std::thread& t : more) t.join();
  EXPECT_EQ(worker.cpuMemRequests.load(), 1);
  EXPECT_EQ(worker.collectRequests.load(), 1);
  EXPECT_EQ(cache.scrapesJoined(), 0u);
  for (const std::string& text : texts) {
    EXPECT_NE(text.find("statrix_system_cpu_percent 12\n"), std::string::npos);
    // Without exact figures from the machine, the reply's memory in its own units.
    EXPECT_NE(text.find("statrix_memory_total_bytes 17179000000\n"), std::string::npos) << text;
  }
}

TEST(FiguresCache, ScrapeTextOfRoundAndObservations) {
  FakeWorker worker;
  worker.cpuMeasured = false;  // one pass so far: the CPU figure needs two
  FiguresCache cache(worker.requester(), [] { return FiguresCache::Memory{17179869184u, 8589934592u}; });
  CORE::PropertyBag cpu, mem, none;
  cpu.add(L"CPU_PERCENTAGE", L"95");
  mem.add(L"MEMORY_PERCENTAGE", L"40");
  const std::pair<const char*, const CORE::PropertyBag*> broadcasts[] = {
      {"CPU-ALARM", &cpu},     {"CPU-ALARM", &cpu},      {"MEMORY-ALARM", &mem},   {"PROCESS-ALARM", &cpu},
      {"PROCESS-ALARM", &mem}, {"PROCESS-ALARM", &none}, {"PROCESS-LIST", &mem}};  // the last two count nowhere
  for (const auto& [name2, bag] : broadcasts) cache.observeBroadcast("PERF-ALERT", name2, *bag);
  cache.observeBroadcast("OTHER", "CPU-ALARM", cpu);
  // Each help-desk message replaces the session figures; other opcodes leave them.
  for (int sessionId : {1, 3}) {
    CORE::PropertyBag message, session;
    message.add(L"opcode", L"NewDataFromStatrix");
    session.addInt(L"sessionId", sessionId);
    session.addInt64(L"cpu", 25);
    message.addBag(L"sessionCpuMetric", session, false);
    session.addInt64(L"mem", 140);  // may exceed 100
    if (sessionId == 3) message.addBag(L"sessionMemMetric", session, false);
    cache.observeHelpdesk("HelpdeskOperation", message);
  }
  CORE::PropertyBag other;
  other.add(L"opcode", L"Something");
  cache.observeHelpdesk("HelpdeskOperation", other);
  cache.observeTimerStart();
  const double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  cache.observeTimerPass(2000000, true);    // 2 ms
  cache.observeTimerPass(300000000, true);  // 0.3 s

  // The samples in order (the families' HELP and TYPE lines are the text writer's and promtool's).
  std::string samples;
  double lastPass = 0;
  std::istringstream text(cache.scrape());
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with("statrix_last_pass_timestamp_seconds "))
      lastPass = std::stod(line.substr(line.find(' ')));
    else if (!line.starts_with("#"))
      samples += line + "\n";
  }
  EXPECT_GE(lastPass, before);
  EXPECT_LE(lastPass, before + 60);
  EXPECT_EQ(samples,
            "statrix_memory_load_percent 34\n"
            "statrix_memory_total_bytes 17179869184\n"
            "statrix_memory_available_bytes 8589934592\n"
            "statrix_metric_value{metric=\"pagesIn\",object=\"Memory\",counter=\"Pages Input/sec\",instance=\"\"} 7\n"
            "statrix_metric_value{metric=\"NET\",object=\"Network Interface\",counter=\"Bytes Total/sec\","
            "instance=\"eth0\"} 0\n"
            "statrix_metric_value{metric=\"NET\",object=\"Network Interface\",counter=\"Bytes Total/sec\","
            "instance=\"lo\"} 400000000\n"
            "statrix_session_cpu_percent{session=\"3\"} 25\n"
            "statrix_session_memory_percent{session=\"3\"} 140\n"
            "statrix_stored_value{name=\"AllSessions\"} 4\n"
            "statrix_alarms_total{kind=\"cpu\"} 2\n"
            "statrix_alarms_total{kind=\"memory\"} 1\n"
            "statrix_alarms_total{kind=\"process_cpu\"} 1\n"
            "statrix_alarms_total{kind=\"process_memory\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.001\"} 0\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.0025\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.005\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.01\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.025\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.05\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.1\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.25\"} 1\n"
            "statrix_pass_duration_seconds_bucket{le=\"0.5\"} 2\n"
            "statrix_pass_duration_seconds_bucket{le=\"1\"} 2\n"
            "statrix_pass_duration_seconds_bucket{le=\"2.5\"} 2\n"
            "statrix_pass_duration_seconds_bucket{le=\"5\"} 2\n"
            "statrix_pass_duration_seconds_bucket{le=\"+Inf\"} 2\n"
            "statrix_pass_duration_seconds_sum 0.302\n"
            "statrix_pass_duration_seconds_count 2\n"
            "statrix_watch_enabled 1\n");
  cache.scrape();  // each scrape after a finished round asks again
  EXPECT_EQ(worker.cpuMemRequests.load(), 2);
}

TEST(FiguresCache, NoWorkerAndTheWatchEnabledGauge) {
  FiguresCache cache([](const std::wstring&, CORE::PropertyBag&, CORE::PropertyBag&) { return std::nullopt; }, {});
  std::string text = cache.scrape();
  EXPECT_NE(text.find("# TYPE statrix_system_cpu_percent gauge\n# HELP statrix_memory_load_percent"),
            std::string::npos);
  EXPECT_EQ(text.find("\nstatrix_memory_total_bytes "), std::string::npos);
  EXPECT_EQ(text.find("\nstatrix_last_pass_timestamp_seconds "), std::string::npos);
  EXPECT_NE(text.find("statrix_watch_enabled 0\n"), std::string::npos);
  auto enabled = [&] {
    ObservedFigures o = cache.observed();
    return o.timerRunning && o.lastPassOk;
  };
  cache.observeTimerStart();
  EXPECT_TRUE(enabled());
  cache.observeTimerPass(1000, false);  // a disabled watch answers its ticks with false
  EXPECT_FALSE(enabled());
  cache.observeTimerPass(1000, true);
  EXPECT_TRUE(enabled());
  cache.observeTimerStop();
  EXPECT_FALSE(enabled());
}

TEST(FigureParsers, StoredValuesAreBoundedInCountAndNameLength) {
  CORE::PropertyBag reply, store;
  store.add(std::wstring(kMaxStoredNameBytes + 1, L'x'), L"1");  // too long a name: left out
  for (size_t i = 0; i < kMaxStoredValues + 100; ++i) store.add(L"name" + std::to_wstring(i), L"2");
  reply.setBag(L"globalCounters", store);
  RoundFigures figures;
  readCountersReply(reply, figures);
  ASSERT_EQ(figures.storedValues.size(), kMaxStoredValues);
  EXPECT_EQ(figures.storedValues.front().first, "name0");
  EXPECT_EQ(figures.storedValues.back().first, "name" + std::to_string(kMaxStoredValues - 1));
}

TEST(PrometheusText, LabelValuesEscapeBackslashQuoteAndNewlineOnly) {
  EXPECT_EQ(prom::escapeLabelValue(R"(C:\Temp "x")" "\n" "y"), R"(C:\\Temp \"x\"\ny)");
  EXPECT_EQ(prom::escapeLabelValue("Pages Input/sec {a=b}"), "Pages Input/sec {a=b}");
  EXPECT_EQ(prom::escapeLabelValue("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9");  // UTF-8 passes unchanged
  EXPECT_EQ(prom::escapeHelp("a \"b\" \\ c\nd"), "a \"b\" \\\\ c\\nd");
}

// Integers and short fractions are in the scrape text above.
TEST(PrometheusText, NumbersReadBackExactly) {
  EXPECT_EQ(prom::formatValue(1e300), "1e+300");
  EXPECT_EQ(prom::formatValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(prom::formatValue(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(prom::formatValue(std::nan("")), "NaN");
}

}  // namespace
}  // namespace vhost
