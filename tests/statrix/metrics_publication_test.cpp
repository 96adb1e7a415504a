// Configuration and the three roads out (reply, registry, help-desk message) on a manager over a
// scripted PDH.
#include <gtest/gtest.h>

#include "cpumem_watch_env.h"
#include "metrics_request.h"
#include "metrics/metric_publication.h"
#include "metrics/metric_table.h"
#include "metrics/perfmon_metric_manager.h"
#include "metrics_fake_pdh.h"

namespace {

using metrics_test::FakePdh;
using watch_test::Event;

using metrics_test::metricEntry;
using metrics_test::metricRequest;

class MetricPublicationTest : public ::testing::Test {
 protected:
  MetricPublicationTest() {
    watch_test::temporaryRegistry();
    for (const MetricDefinition& d : defaultMetrics()) {
      fake.paths[(L"\\" + d.strCounterObject + (d.strInstance.empty() ? L"" : L"(" + d.strInstance + L")") + L"\\" +
                  d.strCounter)
                     .str()] = {1.0};
    }
    fake.paths[L"\\Processor(_Total)\\% User Time"] = {};
    fake.paths[L"\\Memory\\Available Bytes"] = {-1.5};
    fake.paths[L"\\Memory\\Committed Bytes"] = {3.99};
    fake.paths[L"\\Processor(_Total)\\% Idle Time"] = {0.004};
    fake.paths[L"\\Processor(0)\\% Idle Time"] = {7.0};
  }
  size_t logs(int level, const std::wstring& prefix) const {
    size_t n = 0;
    for (const Event& e : recorder.of(Event::Log)) n += (e.level == level && e.text.starts_with(prefix)) ? 1 : 0;
    return n;
  }
  void config(CORE::PropertyBag r) {
    CORE::PropertyBag reply;
    configPerfmonMetrics(manager, r, reply);
    EXPECT_EQ(reply.size(), 0u);
    EXPECT_FALSE(reply.hasError());
  }

  FakePdh fake;
  CounterNameIndex names;
  PerfmonMetricManager manager{fake.functions(), names};
  watch_test::Recorder recorder;
};

TEST_F(MetricPublicationTest, FirstCollectionLoadsAnnouncesAndAppliesTheDefaultsOnce) {
  // Added before the first collection: dropped by it.
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes")}));
  CORE::PropertyBag first, reply;
  collectMetricsForReply(manager, first, reply);
  size_t announced = 0;
  CORE::PropertyBag bag;
  for (size_t pos = first.getNextBag(L"statrixMetrics", bag, 0); pos;
       pos = first.getNextBag(L"statrixMetrics", bag, pos))
    ++announced;
  EXPECT_EQ(announced, 7u);
  EXPECT_EQ(first.get(L"plugin_name").str(), L"brask_broker");
  EXPECT_EQ(manager.table().definitions().size(), 14u);
  EXPECT_EQ(manager.query().counterCount(), 7u);
  EXPECT_EQ(reply.size(), 7u);
  EXPECT_EQ(reply.getInt64(L"DISK_IOPS"), 1);
  EXPECT_FALSE(reply.has(L"AVAIL"));
  EXPECT_EQ(recorder.writes(L"Disk Transfers per sec"), (std::vector<std::wstring>{L"0", L"0"}));
  // Later requests collect afresh without announcing again.
  CORE::PropertyBag second, reply2;
  collectMetricsForReply(manager, second, reply2);
  EXPECT_EQ(second.size(), 0u);
  EXPECT_EQ(reply2.size(), 7u);
  EXPECT_EQ(manager.table().definitions().size(), 14u);
  // Removing a default by name takes out one of its two entries; the counter stays.
  config(metricRequest(L"other", {metricEntry(false, L"DISK_IOPS", L"", L"")}));
  EXPECT_EQ(manager.query().counterCount(), 7u);
}

TEST_F(MetricPublicationTest, RegistryNamesTruncationAndLow32BitsOfNegativeValues) {
  manager.initialiseOnce([] {});  // as after the first "collectCpuAndMem": the table stays ours
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes"),
                            metricEntry(true, L"COMMIT", L"Memory", L"Committed Bytes"),
                            metricEntry(true, L"IDLE", L"Processor", L"% Idle Time", L"_Total")}));
  // The configuration zeroed every value of the table.
  EXPECT_EQ(recorder.writes(L"Available Bytes"), std::vector<std::wstring>{L"0"});
  publishMetricStats(manager);
  EXPECT_EQ(recorder.writes(L"Available Bytes").back(), L"4294967295");
  EXPECT_EQ(recorder.writes(L"Committed Bytes").back(), L"3");
  EXPECT_EQ(recorder.writes(L"% Idle Time").back(), L"0");
  EXPECT_EQ(logs(CORE::Trace, L"Perf disk metric Processor, % Idle Time, _Total, IDLE, value 0.004000"), 1u);
  CORE::PropertyBag none, reply;
  collectMetricsForReply(manager, none, reply);
  EXPECT_EQ(reply.getInt64(L"AVAIL"), -1);
  EXPECT_EQ(reply.getInt64(L"COMMIT"), 3);
  EXPECT_EQ(logs(CORE::Trace, L"Perf metric Memory, Available Bytes, , AVAIL, value -1.500000"), 1u);
}

TEST_F(MetricPublicationTest, SameCounterNameOfTwoObjectsSharesOneValueLaterCounterWins) {
  config(metricRequest(L"other", {metricEntry(true, L"A", L"Processor", L"% Idle Time", L"_Total", 1),
                            metricEntry(true, L"B", L"Processor", L"% Idle Time", L"0", 1)}));
  publishMetricStats(manager);
  // Key order: "Processor^% Idle Time^0^..." sorts before "...^_Total^...": _Total is written last.
  EXPECT_EQ(recorder.writes(L"% Idle Time"), (std::vector<std::wstring>{L"0", L"0", L"7", L"0"}));
}

TEST_F(MetricPublicationTest, HelpdeskMessageCarriesOnlyTheHelpdeskPluginsMetrics) {
  config(metricRequest(kHelpdeskPluginName, {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes")}));
  config(metricRequest(L"other", {metricEntry(true, L"COMMIT", L"Memory", L"Committed Bytes")}));
  CORE::PropertyBag message;
  addHelpdeskMetricValues(manager, message);
  EXPECT_EQ(message.size(), 0u);  // nothing collected yet
  publishMetricStats(manager);
  addHelpdeskMetricValues(manager, message);
  EXPECT_EQ(message.size(), 1u);
  EXPECT_EQ(message.getInt64(L"AVAIL"), -1);
}

TEST_F(MetricPublicationTest, AddsAndRemovesCountPerEntryAndTheHelpdeskOnce) {
  const auto add = metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes");
  const auto remove = metricEntry(false, L"AVAIL", L"", L"");
  config(metricRequest(kHelpdeskPluginName, {add, add}));
  EXPECT_EQ(manager.table().definitions().size(), 1u);
  EXPECT_EQ(logs(CORE::Debug, L"addMetric, metric name AVAIL, plugin name brask_helpdesk"), 2u);
  config(metricRequest(L"other", {add, add}));
  EXPECT_EQ(manager.table().definitions().size(), 3u);
  EXPECT_EQ(manager.query().counterCount(), 1u);
  config(metricRequest(L"other", {remove, remove}));
  EXPECT_EQ(manager.query().counterCount(), 1u);
  config(metricRequest(kHelpdeskPluginName, {remove}));
  EXPECT_EQ(manager.query().counterCount(), 0u);
  EXPECT_EQ(logs(CORE::Debug, L"removeMetric, metric name AVAIL, plugin name other"), 2u);
}

TEST_F(MetricPublicationTest, ConfigurationWithoutEntriesResetsAndRebuildsEverything) {
  config(metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes")}));
  publishMetricStats(manager);
  fake.paths[L"\\Memory\\Available Bytes"].status = PDH_INVALID_DATA;
  publishMetricStats(manager);
  EXPECT_EQ(manager.query().failureCount(), 1u);
  const size_t removedBefore = fake.removed.size();
  config(metricRequest(L"other", {}));
  EXPECT_EQ(recorder.writes(L"Available Bytes").back(), L"0");
  EXPECT_EQ(fake.removed.size(), removedBefore + 1);  // removed and added again
  EXPECT_EQ(manager.query().failureCount(), 0u);      // fresh, no failure marks
  EXPECT_EQ(manager.query().counterCount(), 1u);
}

TEST_F(MetricPublicationTest, EmptyTableWritesNothingAndLogsNothing) {
  publishMetricStats(manager);
  resetMetricStats(manager);
  EXPECT_TRUE(recorder.of(Event::RegWrite).empty());
  EXPECT_TRUE(recorder.of(Event::Log).empty());
}

}  // namespace
