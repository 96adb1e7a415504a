// The figures behind the metrics endpoint: one shared request round, observations, the text a
// scrape gives, and the text writer's escaping and number forms.
#include "figures_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "metrics_exposition.h"
#include "prometheus_text.h"

namespace vhost {
namespace {

// A worker stand-in: answers "collectCpuAndMem" (announcing one definition into the first
// request) and "collect"; can hold the first request until released.
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
        reply.setBag(L"globalCounters", store);
        return true;
      }
      if (cpuMemRequests++ == 0) {
        CORE::PropertyBag d;
        d.add(L"strCounterObject", L"Memory");
        d.add(L"strCounter", L"Pages Input/sec");
        d.add(L"strInstance", L"");
        d.add(L"strMetricName", L"pagesIn");
        d.addBool(L"isAdd", true);
        request.addBag(L"statrixMetrics", d, true);
      }
      {
        std::unique_lock lock(mutex);
        ++waiting;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
      }
      reply.addInt64(L"pagesIn", 7);
      reply.setInt64(L"CPU", 12);
      reply.setInt64(L"MEM", 34);
      reply.setInt64(L"TOTAL_MEMORY", 17179);
      reply.setInt64(L"FREE_MEMORY", 8589);
      return true;
    };
  }
};

FiguresCache::MemoryReader memory16G() {
  return [] { return FiguresCache::Memory{17179869184u, 8589934592u}; };
}

TEST(FiguresCache, ConcurrentScrapesShareOneRound) {
  FakeWorker worker;
  worker.hold = true;
  FiguresCache cache(worker.requester(), memory16G());
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
  for (const std::string& text : texts) EXPECT_NE(text.find("statrix_system_cpu_percent 12\n"), std::string::npos);
}

TEST(FiguresCache, ScrapeTextOfRoundAndObservations) {
  FakeWorker worker;
  FiguresCache cache(worker.requester(), memory16G());
  CORE::PropertyBag cpuAlarm, procMem;
  cpuAlarm.add(L"CPU_PERCENTAGE", L"95");
  procMem.add(L"MEMORY_PERCENTAGE", L"40");
  cache.observeBroadcast("PERF-ALERT", "CPU-ALARM", cpuAlarm);
  cache.observeBroadcast("PERF-ALERT", "CPU-ALARM", cpuAlarm);
  cache.observeBroadcast("PERF-ALERT", "PROCESS-ALARM", procMem);
  cache.observeBroadcast("PERF-ALERT", "PROCESS-LIST", procMem);
  CORE::PropertyBag message, session;
  message.add(L"opcode", L"NewDataFromStatrix");
  session.addInt(L"sessionId", 3);
  session.addInt64(L"cpu", 25);
  message.addBag(L"sessionCpuMetric", session, false);
  cache.observeHelpdesk("HelpdeskOperation", message);
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
            "statrix_session_cpu_percent{session=\"3\"} 25\n"
            "statrix_counter{name=\"AllSessions\"} 4\n"
            "statrix_alarms_total{kind=\"cpu\"} 2\n"
            "statrix_alarms_total{kind=\"memory\"} 0\n"
            "statrix_alarms_total{kind=\"process_cpu\"} 0\n"
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

TEST(PrometheusText, NumbersReadBackExactly) {
  EXPECT_EQ(prom::formatValue(0), "0");
  EXPECT_EQ(prom::formatValue(-1), "-1");
  EXPECT_EQ(prom::formatValue(17179869184.0), "17179869184");
  EXPECT_EQ(prom::formatValue(0.0025), "0.0025");
  EXPECT_EQ(prom::formatValue(2.5), "2.5");
  EXPECT_EQ(prom::formatValue(1e300), "1e+300");
  EXPECT_EQ(prom::formatValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(prom::formatValue(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(prom::formatValue(std::nan("")), "NaN");
}

}  // namespace
}  // namespace vhost
