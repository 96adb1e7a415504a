// The counter query against a scripted PDH: adding, localised paths, expansion, the session rule,
// both collections and the two-strike removal, with the messages at their levels.
#include <gtest/gtest.h>

#include "cpumem_watch_env.h"
#include "metrics/counter_query.h"
#include "metrics_fake_pdh.h"

namespace {

using metrics_test::FakePdh;
using watch_test::Event;

MetricDefinition def(const wchar_t* object, const wchar_t* counter, const wchar_t* instance, const wchar_t* name,
                     uint32_t scale = 1, bool session = false) {
  MetricDefinition d;
  d.strCounterObject = object;
  d.strCounter = counter;
  d.strInstance = instance;
  d.strMetricName = name;
  d.dwScale = scale;
  d.bSessionRelated = session;
  return d;
}

constexpr const wchar_t* kProbe = L"\\Processor(_Total)\\% User Time";
constexpr const wchar_t* kQueue = L"\\System\\Processor Queue Length";
constexpr const wchar_t* kReadTime = L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read";

class CounterQueryTest : public ::testing::Test {
 protected:
  CounterQueryTest() {
    fake.paths[kProbe] = {};
    fake.paths[kQueue] = {2.0};
    fake.paths[kReadTime] = {0.0042};
  }
  // Log lines of one level starting with `prefix`.
  size_t logs(int level, const std::wstring& prefix) const {
    size_t n = 0;
    for (const Event& e : recorder.of(Event::Log)) n += (e.level == level && e.text.starts_with(prefix)) ? 1 : 0;
    return n;
  }

  FakePdh fake;
  CounterNameIndex names;  // empty: every name stays English
  watch_test::Recorder recorder;
};

TEST_F(CounterQueryTest, EmptyTableNeverOpensAQueryAndCollectsNothingSilently) {
  CounterQuery query(fake.functions(), names);
  std::vector<MetricValue> values;
  EXPECT_TRUE(query.collectValues(values));
  EXPECT_TRUE(query.collectValuesTracked(values));
  EXPECT_TRUE(values.empty());
  EXPECT_FALSE(query.isOpen());
  EXPECT_EQ(fake.collects, 0);
  EXPECT_TRUE(recorder.of(Event::Log).empty());
}

TEST_F(CounterQueryTest, OneCounterPerKeyScaledByTheDefinitionThatCreatedIt) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"R", 1000),
                        def(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"R", 1)});
  EXPECT_EQ(query.counterCount(), 1u);
  EXPECT_EQ(logs(CORE::Debug, L"Add counter: PhysicalDisk, Avg. Disk sec/Read, _Total, metric: R, metrics count: 1"),
            1u);
  // The probe ran in a query of its own that was closed again; the engine's query stays open.
  EXPECT_EQ(fake.opens, 2);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.openQueries.size(), 1u);
  std::vector<MetricValue> values;
  ASSERT_TRUE(query.collectValues(values));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_DOUBLE_EQ(values[0].value, 4.2);
  // Scale 0 gives 0.
  CounterQuery zero(fake.functions(), names);
  zero.updateCounters({def(L"System", L"Processor Queue Length", L"", L"Q", 0)});
  values.clear();
  ASSERT_TRUE(zero.collectValues(values));
  EXPECT_EQ(values.at(0).value, 0.0);
}

TEST_F(CounterQueryTest, UnknownCounterFailsOnEveryUpdateAndFailedProbeOnlyWarns) {
  fake.paths.erase(kProbe);
  CounterQuery query(fake.functions(), names);
  const std::vector<MetricDefinition> table{def(L"Memry", L"Available Bytes", L"", L"X")};
  query.updateCounters(table);
  query.updateCounters(table);
  EXPECT_EQ(query.counterCount(), 0u);
  EXPECT_EQ(logs(CORE::Error, L"Failed to add counter \\Memry\\Available Bytes, error: 0xc0000bb9"), 2u);
  EXPECT_EQ(logs(CORE::Warn, L"Perf Counter update, failed to add counter"), 2u);
}

TEST_F(CounterQueryTest, FailedOpenIsReported) {
  fake.openStatus = PDH_MEMORY_ALLOCATION_FAILURE;
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"System", L"Processor Queue Length", L"", L"Q")});
  EXPECT_EQ(query.counterCount(), 0u);
  EXPECT_EQ(logs(CORE::Error, L"Failed to open perf query, error: 0xc0000bbb"), 2u);  // probe and counter
}

TEST_F(CounterQueryTest, LocalNamesFromTheIndexAndFailedLookupsKeepEnglish) {
  names = {{L"PhysicalDisk", 234}, {L"Avg. Disk sec/Read", 208}, {L"System", 2}};
  fake.localNames = {{234, L"Datenträger"}, {208, L"Mittlere Sek./Lesevorgänge"}};
  fake.paths[L"\\Datenträger(_Total)\\Mittlere Sek./Lesevorgänge"] = {0.5};
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"R"),
                        def(L"System", L"Processor Queue Length", L"", L"Q")});
  EXPECT_EQ(query.counterCount(), 2u);
  EXPECT_EQ(query.counters().begin()->second.path.str(), L"\\Datenträger(_Total)\\Mittlere Sek./Lesevorgänge");
  // "System" has an index the fake does not know: the lookup fails and the path stays English.
  EXPECT_GE(logs(CORE::Error, L"Failed to lookup counter System get name buffer size failed. error: 0xc0000bbd"), 1u);
}

TEST_F(CounterQueryTest, LookupSizesAreNotTakenOnTrust) {
  names = {{L"System", 2}};
  fake.localNames = {{2, L"Système"}};
  // The sizing call forgets the terminator: the name is still read whole and terminated.
  fake.lookupSizeDelta = -1;
  CORE::corestring out = L"System";
  EXPECT_TRUE(localizeCounterName(fake.functions(), names, L"System", out));
  EXPECT_EQ(out.str(), L"Système");
  // An absurd size is refused instead of allocated.
  fake.lookupSizeDelta = 0x7FFFFFFF;
  out = L"System";
  EXPECT_FALSE(localizeCounterName(fake.functions(), names, L"System", out));
  EXPECT_EQ(out.str(), L"System");
  EXPECT_EQ(logs(CORE::Error, L"Failed to lookup counter name. error: 0xc0000bc2"), 1u);
  // Status 0 on the sizing call keeps the English name.
  fake.lookupSizeStatus = 0;
  EXPECT_TRUE(localizeCounterName(fake.functions(), names, L"System", out));
  EXPECT_EQ(out.str(), L"System");
}

TEST_F(CounterQueryTest, FailedEnumerationsWarnAndAbsurdSizesAreRefused) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"Nothing", L"*", L"*", L"")});
  EXPECT_EQ(logs(CORE::Warn, L"Failed to list counters for object Nothing, error: 0xc0000bb8"), 1u);
  EXPECT_EQ(logs(CORE::Warn, L"Failed to extend counter: Nothing"), 1u);
  fake.objects[L"PhysicalDisk"] = {{L"Disk Reads/sec"}, {L"sda"}};
  fake.enumSecondStatus = PDH_INVALID_ARGUMENT;
  query.updateCounters({def(L"PhysicalDisk", L"*", L"*", L"")});
  EXPECT_EQ(logs(CORE::Warn, L"Failed to list counters for object PhysicalDisk, error: 0xc0000bbd"), 1u);
  fake.enumSecondStatus = 0;
  fake.enumSizeOverride = 0xFFFFFFFF;
  query.updateCounters({def(L"PhysicalDisk", L"*", L"*", L"")});
  EXPECT_EQ(logs(CORE::Warn, L"Failed to list counters for object PhysicalDisk, error: 0xc0000bc2"), 1u);
  EXPECT_EQ(query.counterCount(), 0u);
}

TEST_F(CounterQueryTest, ValueMarkedInvalidByItsOwnStatusIsAFailedRead) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"System", L"Processor Queue Length", L"", L"Q")});
  fake.paths[kQueue].cstatus = static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
  std::vector<MetricValue> values;
  ASSERT_TRUE(query.collectValues(values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter, error: 0xc0000bba"), 1u);
}

TEST_F(CounterQueryTest, FailedCollectionAppendsNothingAndFailedRemovalIsLogged) {
  CounterQuery query(fake.functions(), names);
  const std::vector<MetricDefinition> table{def(L"System", L"Processor Queue Length", L"", L"Q")};
  query.updateCounters(table);
  fake.collectStatus = PDH_NO_DATA;
  std::vector<MetricValue> values;
  EXPECT_FALSE(query.collectValues(values));
  EXPECT_FALSE(query.collectValuesTracked(values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(logs(CORE::Error, L"Failed to collect data from counter, error: 0x800007d5"), 2u);
  fake.collectStatus = 0;
  fake.removeStatus = PDH_INVALID_HANDLE;
  fake.paths[kQueue].status = PDH_INVALID_DATA;
  query.collectValuesTracked(values);
  query.collectValuesTracked(values);
  EXPECT_EQ(logs(CORE::Error, L"Failed to remove counter, error: 0xc0000bbc"), 1u);
  EXPECT_EQ(logs(CORE::Error, L"Failed to remove perf counter \\System\\Processor Queue Length"), 1u);
  EXPECT_EQ(query.counterCount(), 0u);
  // A rebuild logs a failed removal and goes on.
  query.updateCounters(table);
  query.rebuildCounters(table);
  EXPECT_EQ(logs(CORE::Error, L"Failed to remove counter, error: 0xc0000bbc"), 2u);
  EXPECT_EQ(query.counterCount(), 1u);
}

}  // namespace
