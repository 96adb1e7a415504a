// The metric engine end to end over the Linux layer's PDH and fixture procfs trees: rates,
// averages and percentages to the unit, wildcards over a changing disk list with the two-strike
// rule, session-related metrics and utmp, and a second language.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "cpumem_watch_env.h"
#include "metrics/counter_names.h"
#include "metrics/metric_publication.h"
#include "metrics/perfmon_metric_manager.h"
#include "metrics/publication_names.h"
#include "metrics_request.h"
#include "pdh/pdh_query.h"
#include "support/linux/fixture_tree.h"
#include "well_known_names.h"

namespace {

using statrix_test::FixtureTree;
using watch_test::Event;

std::atomic<uint64_t> nowNs{1'000'000'000'000};
uint64_t testClock() { return nowNs.load(); }

using metrics_test::metricEntry;
using metrics_test::metricRequest;

class MetricsLinuxTest : public ::testing::Test {
 protected:
  MetricsLinuxTest() {
    watch_test::temporaryRegistry();
    winapi_linux::pdh::setCollectionClock(&testClock);
    tree.setCpus({{100, 0, 0, 100}});
    tree.setCounters(1000, 100, 4, 0);
    tree.setMeminfo(4u << 20, 3000000);
    tree.setDisks({{"sda", 100, 800, 500, 50, 400, 1000, 2, 900}, {"sda1", 90, 700, 400, 40, 300, 900, 1, 800}});
    tree.setLogins({});
    tree.activate();
    reloadEnglishCounterIndexForTesting();  // the list the layer serves under this registry root
  }
  ~MetricsLinuxTest() override { winapi_linux::pdh::setCollectionClock(nullptr); }

  size_t logs(int level, const std::wstring& prefix) const {
    return recorder.count([&](const Event& e) { return e.level == level && e.text.starts_with(prefix); });
  }
  void config(CORE::PropertyBag r) {
    CORE::PropertyBag reply;
    configPerfmonMetrics(manager, r, reply);
  }
  CORE::PropertyBag collect() {
    CORE::PropertyBag r, reply;
    collectMetricsForReply(manager, r, reply);
    return reply;
  }
  // The latest value of a metric name (NaN when it was not collected).
  double latest(const wchar_t* name) {
    for (const MetricValue& v : manager.latestValues())
      if (v.definition.strMetricName == name) return v.value;
    return std::nan("");
  }

  FixtureTree tree;
  PerfmonMetricManager manager;
  watch_test::Recorder recorder;
};

TEST_F(MetricsLinuxTest, RatesAveragesAndPercentagesToTheUnit) {
  // The first request loads the defaults and announces them once under the broker's name;
  // instantaneous counters answer at once, rates not yet.
  CORE::PropertyBag announcement, reply, entry;
  collectMetricsForReply(manager, announcement, reply);
  EXPECT_EQ(announcement.get(L"plugin_name").str(), L"brask_broker");
  size_t announced = 0;
  for (size_t pos = 0; (pos = announcement.getNextBag(L"statrixMetrics", entry, pos)) != 0;) ++announced;
  EXPECT_EQ(announced, 7u);
  EXPECT_EQ(reply.getInt64(L"CURRENT_DISK_QUEUE_LENGTH", -1), 2);
  EXPECT_FALSE(reply.has(L"DISK_IOPS"));
  EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter"), 5u);  // the five rates
  EXPECT_EQ(manager.query().counterCount(), 7u);

  config(metricRequest(kHelpdeskPluginName,
                       {metricEntry(true, L"READ_MS", L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", 1000),
                        metricEntry(true, L"IDLE", L"Processor", L"% Idle Time", L"_Total"),
                        metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes")}));
  publishMetricStats(manager);  // the first sample of every rate

  // Two seconds later: 10 reads taking 50 ms, 30 writes taking 90 ms, 600 of 1000 ticks idle.
  nowNs += 2'000'000'000;
  tree.setCpus({{500, 0, 0, 700}});
  tree.setDisks({{"sda", 110, 900, 550, 80, 500, 1090, 0, 1000}, {"sda1", 95, 750, 420, 45, 350, 950, 0, 850}});
  publishMetricStats(manager);
  EXPECT_NEAR(latest(L"READ_MS"), 5.0, 1e-9);
  EXPECT_NEAR(latest(L"AVG_DISK_SEC_PER_READ"), 0.005, 1e-12);
  EXPECT_NEAR(latest(L"AVG_DISK_SEC_PER_WRITE"), 0.003, 1e-12);
  EXPECT_NEAR(latest(L"DISK_IOPS"), 20.0, 1e-9);  // (10 + 30) / 2 s, partitions left out
  EXPECT_NEAR(latest(L"IDLE"), 60.0, 1e-9);
  EXPECT_EQ(latest(L"AVAIL"), 3072000000.0);
  EXPECT_EQ(latest(L"CURRENT_DISK_QUEUE_LENGTH"), 0.0);
  // Registry: the later of two metrics on one counter name wins (READ_MS sorts after AVG_DISK_...).
  EXPECT_EQ(recorder.writes(L"Avg. Disk sec per Read").back(), L"5");
  // Later requests collect afresh without announcing again.
  CORE::PropertyBag none;
  collectMetricsForReply(manager, none, reply);
  EXPECT_EQ(none.size(), 0u);
}

TEST_F(MetricsLinuxTest, WildcardsFollowTheDisksAndAVanishedDiskGoesAfterTwoFailedReads) {
  manager.initialiseOnce([] {});
  tree.setDisks({{"sda", 1}, {"sdb", 1}, {"loop0", 1}});
  config(metricRequest(L"other", {metricEntry(true, L"", L"PhysicalDisk", L"Disk Reads/sec", L"*", 1000)}));
  ASSERT_EQ(manager.query().counterCount(), 3u);  // sda, sdb, _Total
  const auto& counters = manager.query().counters();
  EXPECT_EQ(counters.count(L"PhysicalDisk^Disk Reads/sec^sdb^PhysicalDisk|Disk Reads/sec|sdb^0^0"), 1u);
  publishMetricStats(manager);
  nowNs += 1'000'000'000;
  tree.setDisks({{"sda", 4}, {"sdb", 2}});
  publishMetricStats(manager);
  EXPECT_EQ(latest(L"PhysicalDisk|Disk Reads/sec|sda"), 3.0);  // scale 1 for expanded counters
  EXPECT_EQ(latest(L"PhysicalDisk|Disk Reads/sec|_Total"), 4.0);

  // sdb is gone and sdc arrives: sdb fails two tracked reads and is dropped; the next request
  // adds sdc.
  tree.setDisks({{"sda", 5}, {"sdc", 1}});
  nowNs += 1'000'000'000;
  publishMetricStats(manager);
  EXPECT_EQ(manager.query().counterCount(), 3u);
  nowNs += 1'000'000'000;
  publishMetricStats(manager);
  EXPECT_EQ(manager.query().counterCount(), 2u);
  EXPECT_EQ(latest(L"PhysicalDisk|Disk Reads/sec|sda"), 0.0);
  collect();
  EXPECT_EQ(manager.query().counterCount(), 3u);
  EXPECT_EQ(counters.count(L"PhysicalDisk^Disk Reads/sec^sdc^PhysicalDisk|Disk Reads/sec|sdc^0^0"), 1u);

  // A requester that asks for details learns the instance of every value.
  nowNs += 1'000'000'000;
  CORE::PropertyBag request, reply, entry;
  request.addBool(well_known::kWithDetails, true);
  collectMetricsForReply(manager, request, reply);
  std::vector<std::wstring> instances;
  for (size_t pos = 0; (pos = reply.getNextBag(well_known::kMetricValue, entry, pos)) != 0;) {
    EXPECT_EQ(entry.get(L"strCounter").str(), L"Disk Reads/sec");
    instances.push_back(entry.get(L"strInstance").str());
  }
  EXPECT_EQ(instances, (std::vector<std::wstring>{L"_Total", L"sda", L"sdc"}));
}

TEST_F(MetricsLinuxTest, RegistryFiguresSaturateFailOrLeaveWithTheirMetric) {
  const auto published = [](const wchar_t* counter) {
    const auto value = CORE::registryRead(publicationPath(counter));
    return value ? value->text.str() : std::wstring();
  };
  manager.initialiseOnce([] {});
  // 3,072,000,000 bytes available, twice that is more than a DWORD holds.
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes", L"", 2)}));
  publishMetricStats(manager);
  EXPECT_EQ(published(L"Available Bytes"), L"4294967295");
  // Scaled by 4294967295 it is beyond 64 bits: a failed read, the figure stays at its reset.
  config(metricRequest(L"other", {metricEntry(false, L"AVAIL", L"", L""),
                                  metricEntry(true, L"HUGE", L"Memory", L"Available Bytes", L"", -1)}));
  publishMetricStats(manager);
  EXPECT_EQ(published(L"Available Bytes"), L"0");
  EXPECT_FALSE(collect().has(L"HUGE"));
  EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter, error: 0xc0000bc6, perf counter path "
                              L"\\Memory\\Available Bytes"),
            1u);

  // A counter name with backslashes is one value under "Performance Stats", never keys: the
  // real "Available Bytes" value stays writable and no other key is touched.
  const wchar_t hostile[] = L"Available Bytes\\..\\..\\Performance Alarms\\OverallCpuPercentage";
  config(metricRequest(L"other", {metricEntry(false, L"HUGE", L"", L""),
                                  metricEntry(true, L"HOSTILE", L"Memory", hostile, L"")}));
  publishMetricStats(manager);
  const std::filesystem::path stats = watch_test::temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Stats";
  EXPECT_FALSE(std::filesystem::is_directory(stats / "Available Bytes"));
  EXPECT_EQ(published(hostile), L"0");
  config(metricRequest(L"other", {metricEntry(false, L"HOSTILE", L"", L""),
                                  metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes", L"", 2)}));
  publishMetricStats(manager);
  EXPECT_EQ(published(L"Available Bytes"), L"4294967295");

  // Every counter of one disk: the expanded figures go when the metric leaves the table.
  config(metricRequest(L"other", {metricEntry(true, L"SDA", L"PhysicalDisk", L"*", L"sda")}));
  publishMetricStats(manager);
  EXPECT_EQ(published(L"Current Disk Queue Length"), L"2");
  config(metricRequest(L"other", {metricEntry(false, L"SDA", L"", L"")}));
  EXPECT_EQ(published(L"Current Disk Queue Length"), L"0");
}

TEST_F(MetricsLinuxTest, CounterWildcardsExpandOverTheLayerAndOnlyTwoFailedReadsInARowRemoveACounter) {
  manager.initialiseOnce([] {});
  tree.setDisks({{"sda", 1}, {"sdb", 1}});
  recorder.clear();
  // Every counter of Processor for one instance; Memory has no instances: nothing, silently.
  config(metricRequest(L"other", {metricEntry(true, L"", L"Processor", L"*", L"_Total"),
                                  metricEntry(true, L"", L"Memory", L"*", L"*")}));
  std::vector<std::wstring> keys;
  for (const auto& [key, counter] : manager.query().counters()) keys.push_back(key.str());
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"Processor^% Idle Time^_Total^Processor|% Idle Time|_Total^0^0",
                                             L"Processor^% Privileged Time^_Total^Processor|% Privileged Time|_Total^0^0",
                                             L"Processor^% Processor Time^_Total^Processor|% Processor Time|_Total^0^0",
                                             L"Processor^% User Time^_Total^Processor|% User Time|_Total^0^0"}));
  EXPECT_TRUE(recorder.lines(CORE::Warn).empty());

  // sdb's queue: gone, back, gone keeps the counter; gone twice in a row removes it.
  config(metricRequest(L"other", {metricEntry(true, L"", L"PhysicalDisk", L"Current Disk Queue Length", L"*")}));
  const std::wstring sdb = L"PhysicalDisk^Current Disk Queue Length^sdb^PhysicalDisk|Current Disk Queue Length|sdb^0^0";
  const auto& counters = manager.query().counters();
  ASSERT_EQ(counters.count(sdb), 1u);
  for (const bool present : {false, true, false}) {
    tree.setDisks(present ? std::vector<statrix_test::FakeDisk>{{"sda", 1}, {"sdb", 1}}
                          : std::vector<statrix_test::FakeDisk>{{"sda", 1}});
    publishMetricStats(manager);
    EXPECT_EQ(counters.count(sdb), 1u) << "sdb present: " << present;
  }
  publishMetricStats(manager);
  EXPECT_EQ(counters.count(sdb), 0u);
}

TEST_F(MetricsLinuxTest, AFailedStatsWriteNamesItsCounterAndANeverOpenedQueryPublishesSilently) {
  recorder.clear();
  publishMetricStats(manager);
  EXPECT_TRUE(recorder.lines(CORE::Trace).empty());
  EXPECT_EQ(recorder.count(Event::RegWrite), 0u);

  // A file where the "Performance Stats" key would be: no value can be written under it.
  const std::filesystem::path stats = watch_test::temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Stats";
  std::filesystem::remove_all(stats);
  std::filesystem::create_directories(stats.parent_path());
  std::ofstream(stats) << "not a key";
  manager.initialiseOnce([] {});
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes")}));
  recorder.clear();
  publishMetricStats(manager);
  EXPECT_EQ(logs(CORE::Error, L"Failed to write Perfmon counter Available Bytes to registry - "), 1u);
  std::filesystem::remove(stats);
}

TEST_F(MetricsLinuxTest, SessionRelatedMetricsWaitForAnActiveLogin) {
  manager.initialiseOnce([] {});
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes", L"", 1, true)}));
  EXPECT_EQ(manager.query().counterCount(), 0u);
  EXPECT_FALSE(collect().has(L"AVAIL"));
  // A login whose process is gone does not count; one that is alive does.
  tree.setLogins({{4242, "pts/0", "ghost"}});
  EXPECT_FALSE(collect().has(L"AVAIL"));
  tree.addProcess({4243, "bash"});
  tree.setLogins({{4242, "pts/0", "ghost"}, {4243, "pts/1", "user"}});
  EXPECT_EQ(collect().getInt64(L"AVAIL"), 3072000000);
  // Seen once is enough: after the login ended the metric is still added on a rebuild.
  tree.setLogins({});
  config(metricRequest(L"other", {}));
  EXPECT_EQ(collect().getInt64(L"AVAIL"), 3072000000);
  EXPECT_EQ(logs(CORE::Error, L"Error to enumerate sessions"), 0u);
}

TEST_F(MetricsLinuxTest, SecondLanguagePathsAreLocalAndStillCollected) {
  const std::filesystem::path value =
      watch_test::temporaryRegistry() /
      "HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage/Counter";
  std::wstring list;
  for (const wchar_t* item : {L"2", L"Système", L"4", L"Mémoire", L"24", L"Octets disponibles", L"44",
                              L"Longueur de la file d’attente du processeur"})
    list += std::wstring(item) + L'\0';
  ASSERT_TRUE(CORE::corestring(list).writeRegistry(
      L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\CurrentLanguage\\Counter", 7, false, false));
  manager.initialiseOnce([] {});
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes"),
                            metricEntry(true, L"QUEUE", L"System", L"Processor Queue Length")}));
  std::vector<std::wstring> paths;
  for (const auto& [key, counter] : manager.query().counters()) paths.push_back(counter.path.str());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"\\Mémoire\\Octets disponibles",
                                              L"\\Système\\Longueur de la file d’attente du processeur"}));
  const CORE::PropertyBag reply = collect();
  EXPECT_EQ(reply.getInt64(L"AVAIL"), 3072000000);
  EXPECT_EQ(reply.getInt64(L"QUEUE"), 3);
  std::filesystem::remove(value);
}

}  // namespace
