// The figures behind the metrics endpoint: one shared request round, what is read from the
// plug-in's bags and broadcasts (and what is left out), the text a scrape gives, and the text
// writer's escaping and number forms.
#include "metrics/figures_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "metrics/metrics_exposition.h"
#include "metrics/prometheus_text.h"

namespace vhost {
namespace {

// A worker stand-in: answers "collectCpuAndMem" (announcing one definition and withdrawing
// another in the first request) and "collect"; can hold the first request until released.
struct FakeWorker {
  std::mutex mutex;
  std::condition_variable cv;
  bool hold = false;
  int waiting = 0;
  std::atomic<int> cpuMemRequests{0};
  std::atomic<int> collectRequests{0};

  FiguresCache::Requester requester() {
    return [this](const std::wstring& op, CORE::PropertyBag& request, CORE::PropertyBag& reply) -> std::optional<bool> {
      if (op == L"collect") {
        ++collectRequests;
        CORE::PropertyBag store;
        store.add(L"AllSessions", L"4");
        store.add(L"Broken", L"n/a");     // no number: left out
        store.add(L"AllSessions", L"9");  // a repeated name stays one series
        reply.setBag(L"globalCounters", store);
        return true;
      }
      if (cpuMemRequests++ == 0) {
        for (const wchar_t* name : {L"pagesIn", L"removed"}) {
          CORE::PropertyBag d;
          d.add(L"strCounterObject", L"Memory");
          d.add(L"strCounter", L"Pages Input/sec");
          d.add(L"strInstance", L"");
          d.add(L"strMetricName", name);
          d.addBool(L"isAdd", name[0] == L'p');
          request.addBag(L"statrixMetrics", d, true);
        }
        request.add(L"statrixMetrics", L"text, not a bag");  // passed over
      }
      {
        std::unique_lock lock(mutex);
        ++waiting;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
      }
      reply.addInt64(L"pagesIn", 7);
      reply.addInt64(L"pagesIn", 8);   // a default standing twice: one series, first value
      reply.addInt64(L"removed", -1);  // withdrawn, so as unknown as any other name
      reply.setInt64(L"CPU", 12);
      reply.setInt64(L"MEM", 34);
      reply.setInt64(L"TOTAL_MEMORY", 17179);
      reply.setInt64(L"FREE_MEMORY", 8589);
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
  cache.observeTimerPass(2000000, true);    // 2 ms
  cache.observeTimerPass(300000000, true);  // 0.3 s

  // The samples in order (the families' HELP and TYPE lines are the text writer's and promtool's).
  std::string samples;
  std::istringstream text(cache.scrape());
  for (std::string line; std::getline(text, line);)
    if (!line.starts_with("#")) samples += line + "\n";
  EXPECT_EQ(samples,
            "statrix_system_cpu_percent 12\n"
            "statrix_memory_load_percent 34\n"
            "statrix_memory_total_bytes 17179869184\n"
            "statrix_memory_available_bytes 8589934592\n"
            "statrix_metric_value{metric=\"pagesIn\",object=\"Memory\",counter=\"Pages Input/sec\",instance=\"\"} 7\n"
            "statrix_metric_value{metric=\"removed\",object=\"\",counter=\"\",instance=\"\"} -1\n"
            "statrix_session_cpu_percent{session=\"3\"} 25\n"
            "statrix_session_memory_percent{session=\"3\"} 140\n"
            "statrix_counter{name=\"AllSessions\"} 4\n"
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
