// The metric engine's pure pieces (keys, name lists, published numbers, expansion, the metric
// table), then the counter query against a scripted PDH where the real one cannot be made to
// misbehave: sizes not to be trusted, values marked invalid, failed collections and removals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <limits>
#include <map>
#include <set>

#include "cpumem_watch_env.h"
#include "metrics/counter_expansion.h"
#include "metrics/counter_names.h"
#include "metrics/counter_query.h"
#include "metrics/metric_table.h"
#include "metrics/publication_names.h"
#include "metrics_request.h"

namespace {

using metrics_test::metricEntry;
using metrics_test::metricRequest;
using watch_test::Event;

MetricDefinition def(const wchar_t* object, const wchar_t* counter, const wchar_t* instance, const wchar_t* name,
                     uint32_t scale = 1, uint32_t type = 0, bool session = false) {
  MetricDefinition d;
  d.strCounterObject = object;
  d.strCounter = counter;
  d.strInstance = instance;
  d.strMetricName = name;
  d.dwScale = scale;
  d.dwType = type;
  d.bSessionRelated = session;
  return d;
}

TEST(CounterKey, FieldsInOrderTypeBeforeSessionScaleLeftOutOrdinalOrder) {
  EXPECT_EQ(counterKey(MetricDefinition{}).str(), L"^^^^0^0");
  EXPECT_EQ(counterKey(def(L"A", L"B", L"", L"M", 1000, 7, true)).str(), L"A^B^^M^7^1");
  // Upper case sorts before lower case, "^" (0x5E) after upper-case letters.
  EXPECT_LT(counterKey(def(L"Memory", L"B", L"", L"M")), counterKey(def(L"memory", L"B", L"", L"M")));
  EXPECT_LT(counterKey(def(L"AB", L"", L"", L"")), counterKey(def(L"A", L"", L"", L"")));
}

TEST(CounterNames, IndexPairsAndMultiStringsNeverReadPastTheirLength) {
  std::wstring text;
  for (const wchar_t* part : {L"1", L"1847", L"2", L"System", L"4", L"Memory", L"230", L"System", L"9"})
    text += std::wstring(part) + L'\0';
  text.pop_back();
  const CounterNameIndex index = parseCounterNameIndex(CORE::corestring(text));
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.at(L"System"), 230);  // the later pair wins
  EXPECT_EQ(index.at(L"1847"), 1);
  EXPECT_TRUE(parseCounterNameIndex(L"").empty());
  EXPECT_EQ(parseCounterNameIndex(CORE::corestring(std::wstring(L"x\0Name", 6))).at(L"Name"), 0);

  const wchar_t full[] = L"a\0bc\0\0ignored\0";
  auto names = parseMultiString(full, sizeof full / sizeof full[0]);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[1].str(), L"bc");
  const wchar_t unterminated[] = {L'x', L'\0', L'y', L'z'};
  names = parseMultiString(unterminated, 4);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[1].str(), L"yz");
  EXPECT_TRUE(parseMultiString(nullptr, 10).empty());
  EXPECT_TRUE(parseMultiString(full, 0).empty());
}

TEST(Publication, Low32BitsTruncationAndSaturationOfUnrepresentableValues) {
  EXPECT_EQ(publicationValueName(L"a/b/c").str(), L"a per b per c");
  EXPECT_EQ(publishedNumber(3.99), 3u);
  EXPECT_EQ(publishedNumber(-1.5), 4294967295u);
  EXPECT_EQ(publishedNumber(4294967296.0 + 7), 7u);
  EXPECT_EQ(truncateMetricValue(-1.5), -1);
  EXPECT_EQ(truncateMetricValue(3.99), 3);
  EXPECT_EQ(truncateMetricValue(std::nan("")), 0);
  EXPECT_EQ(truncateMetricValue(std::numeric_limits<double>::infinity()), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateMetricValue(-std::numeric_limits<double>::infinity()), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(truncateMetricValue(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateMetricValue(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(publishedNumber(std::nan("")), 0u);
  EXPECT_EQ(publishedNumber(1e300), 0xFFFFFFFFu);
}

TEST(Expansion, PairsCountersOuterKeepsTypeAndSessionAndNamesUnnamedOnes) {
  const std::vector<CORE::corestring> counters{L"Reads", L"Writes"};
  const std::vector<CORE::corestring> instances{L"sda", L"_Total"};
  auto all = expandDefinition(def(L"PhysicalDisk", L"*", L"*", L"", 1000, 3, true), counters, instances);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1].strMetricName.str(), L"PhysicalDisk|Reads|_Total");
  EXPECT_EQ(all[1].dwScale, 1u);
  EXPECT_EQ(all[1].dwType, 3u);
  EXPECT_TRUE(all[1].bSessionRelated);
  auto named = expandDefinition(def(L"PhysicalDisk", L"Writes", L"*", L"W"), counters, instances);
  ASSERT_EQ(named.size(), 2u);
  EXPECT_EQ(named[0].strMetricName.str(), L"W");
  EXPECT_NE(counterKey(named[0]), counterKey(named[1]));
  EXPECT_TRUE(expandDefinition(def(L"Memory", L"*", L"", L""), counters, {}).empty());
  EXPECT_TRUE(expandDefinition(def(L"PhysicalDisk", L"*", L"sdb", L""), counters, instances).empty());
}

TEST(MetricTable, EntryDefaultsAndSignedNumbersKeptAsTheir32Bits) {
  MetricDefinition d = definitionFromEntry(CORE::PropertyBag());
  EXPECT_EQ(counterKey(d).str(), L"^^^^0^0");
  EXPECT_EQ(d.dwScale, 1u);
  CORE::PropertyBag e;
  e.addInt(L"dwType", -1);
  e.addInt(L"dwScale", 0);
  d = definitionFromEntry(e);
  EXPECT_EQ(d.dwType, 4294967295u);
  EXPECT_EQ(d.dwScale, 0u);
  // The announced form reads back as the same definition.
  const MetricDefinition back = definitionFromEntry(entryFromDefinition(defaultMetrics()[3]));
  EXPECT_EQ(counterKey(back), counterKey(defaultMetrics()[3]));
  EXPECT_TRUE(entryFromDefinition(back).getBool(L"isAdd"));
}

TEST(MetricTable, OrdinaryPluginsCountEveryAddAndRemoveByName) {
  const auto avail = metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes");
  MetricTable table;
  table.applyMetricRequests(metricRequest(L"other", {avail, avail}));
  EXPECT_EQ(table.definitions().size(), 2u);
  // An entry without "isAdd" removes; a remove of an unknown name changes nothing.
  CORE::PropertyBag removeOnly;
  removeOnly.add(L"strMetricName", L"AVAIL");
  table.applyMetricRequests(metricRequest(L"", {removeOnly, metricEntry(false, L"NOPE", L"", L"")}));
  EXPECT_EQ(table.definitions().size(), 1u);
  EXPECT_TRUE(table.helpdeskMetricNames().empty());
}

TEST(MetricTable, HelpdeskPluginHoldsOneEntryPerNameAndRemovesOnlyItsOwn) {
  const auto add = [](const wchar_t* name) { return metricEntry(true, name, L"Memory", L"Available Bytes"); };
  const auto remove = [](const wchar_t* name) { return metricEntry(false, name, L"", L""); };
  MetricTable table;
  table.applyMetricRequests(metricRequest(L"other", {add(L"SHARED")}));
  table.applyMetricRequests(metricRequest(kHelpdeskPluginName, {add(L"HD"), add(L"HD")}));
  EXPECT_EQ(table.definitions().size(), 2u);
  EXPECT_TRUE(table.isHelpdeskMetric(L"HD"));
  table.applyMetricRequests(metricRequest(kHelpdeskPluginName, {remove(L"SHARED")}));
  EXPECT_EQ(table.definitions().size(), 2u);  // never added by the help desk: untouched
  table.applyMetricRequests(metricRequest(kHelpdeskPluginName, {remove(L"HD")}));
  EXPECT_EQ(table.definitions().size(), 1u);
  EXPECT_FALSE(table.isHelpdeskMetric(L"HD"));
  // A remove by name takes the first entry of the name, whoever added it.
  table.applyMetricRequests(metricRequest(L"third", {remove(L"SHARED")}));
  EXPECT_TRUE(table.definitions().empty());
}

// A scripted PDH, made current by its constructor: paths it knows can be added, and reading one
// gives the path's current value and statuses.
struct FakePdh {
  struct Reading {
    double value = 0.0;
    uint32_t status = 0;  // the call's status
    DWORD cstatus = 0;    // the value's own status
  };
  std::map<std::wstring, Reading> paths;
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> objects;  // counters, instances (NUL lists)
  std::map<DWORD, std::wstring> localNames;
  uint32_t collectStatus = 0, removeStatus = 0, enumSecondStatus = 0;  // statuses as their 32 bits
  uint32_t lookupSizeStatus = PDH_MORE_DATA;  // the sizing call's status
  int64_t lookupSizeDelta = 0;                // added to the size the sizing call reports
  DWORD enumSizeOverride = 0;                 // if set, reported for both lists
  std::set<uintptr_t> openQueries;

  FakePdh() { current = this; }
  ~FakePdh() { current = nullptr; }
  const PdhFunctions& functions() const {
    static const PdhFunctions table{&open, &close, &add, &remove, &collect, &read, &lookup, &enumerate,
                                    &sessions, &freeMemory};
    return table;
  }

 private:
  static inline FakePdh* current = nullptr;
  std::map<uintptr_t, std::wstring> counters_;  // handle -> path
  uintptr_t next_ = 1;

  static PDH_STATUS status(uint32_t code) { return static_cast<PDH_STATUS>(code); }
  static PDH_STATUS WINAPI open(LPCWSTR, DWORD_PTR, PDH_HQUERY* query) {
    const uintptr_t id = 0x10000 + current->next_++;
    current->openQueries.insert(id);
    *query = reinterpret_cast<PDH_HQUERY>(id);
    return 0;
  }
  static PDH_STATUS WINAPI close(PDH_HQUERY query) {
    current->openQueries.erase(reinterpret_cast<uintptr_t>(query));
    return 0;
  }
  static PDH_STATUS WINAPI add(PDH_HQUERY, LPCWSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
    if (current->paths.count(path) == 0) return status(PDH_CSTATUS_NO_COUNTER);
    const uintptr_t id = current->next_++;
    current->counters_[id] = path;
    *counter = reinterpret_cast<PDH_HCOUNTER>(id);
    return 0;
  }
  static PDH_STATUS WINAPI remove(PDH_HCOUNTER counter) {
    if (current->removeStatus != 0) return status(current->removeStatus);
    const auto it = current->counters_.find(reinterpret_cast<uintptr_t>(counter));
    if (it == current->counters_.end()) return status(PDH_INVALID_HANDLE);
    current->counters_.erase(it);
    return 0;
  }
  static PDH_STATUS WINAPI collect(PDH_HQUERY) { return status(current->collectStatus); }
  static PDH_STATUS WINAPI read(PDH_HCOUNTER counter, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE value) {
    const auto it = current->counters_.find(reinterpret_cast<uintptr_t>(counter));
    if (it == current->counters_.end()) return status(PDH_INVALID_HANDLE);
    const Reading& r = current->paths[it->second];
    value->CStatus = r.cstatus;
    value->doubleValue = r.value;
    return status(r.status);
  }
  static PDH_STATUS WINAPI lookup(LPCWSTR, DWORD index, LPWSTR buffer, LPDWORD size) {
    const auto it = current->localNames.find(index);
    if (it == current->localNames.end()) return status(PDH_INVALID_ARGUMENT);
    const std::wstring& name = it->second;
    if (buffer == nullptr) {
      if (current->lookupSizeStatus != static_cast<uint32_t>(PDH_MORE_DATA)) return status(current->lookupSizeStatus);
      *size = static_cast<DWORD>(static_cast<int64_t>(name.size() + 1) + current->lookupSizeDelta);
      return status(PDH_MORE_DATA);
    }
    // Fills what the caller said it has; the terminator only when there is room for it.
    const size_t n = std::min<size_t>(*size, name.size());
    std::wmemcpy(buffer, name.data(), n);
    if (n < *size) buffer[n] = L'\0';
    return 0;
  }
  static PDH_STATUS WINAPI enumerate(LPCWSTR, LPCWSTR, LPCWSTR object, LPWSTR counters, LPDWORD counterLength,
                                     LPWSTR instances, LPDWORD instanceLength, DWORD, DWORD) {
    const auto it = current->objects.find(object);
    if (it == current->objects.end()) return status(PDH_CSTATUS_NO_OBJECT);
    const auto& [c, i] = it->second;
    if (counters == nullptr && instances == nullptr) {
      *counterLength = current->enumSizeOverride ? current->enumSizeOverride : static_cast<DWORD>(c.size());
      *instanceLength = current->enumSizeOverride ? current->enumSizeOverride : static_cast<DWORD>(i.size());
      return status(PDH_MORE_DATA);
    }
    if (current->enumSecondStatus != 0) return status(current->enumSecondStatus);
    std::wmemcpy(counters, c.data(), std::min<size_t>(c.size(), *counterLength));
    if (instances != nullptr) std::wmemcpy(instances, i.data(), std::min<size_t>(i.size(), *instanceLength));
    return 0;
  }
  static BOOL WINAPI sessions(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*) { return FALSE; }
  static void WINAPI freeMemory(PVOID) {}
};

constexpr const wchar_t* kQueue = L"\\System\\Processor Queue Length";

class CounterQueryTest : public ::testing::Test {
 protected:
  CounterQueryTest() {
    fake.paths[L"\\Processor(_Total)\\% User Time"] = {};  // the probe
    fake.paths[kQueue] = {2.0};
    fake.paths[L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read"] = {0.0042};
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

TEST_F(CounterQueryTest, OneCounterPerKeyScaledByItsCreatorAndNoQueryLeftOpen) {
  {
    CounterQuery query(fake.functions(), names);
    query.updateCounters({def(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"R", 1000),
                          def(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"R", 1)});
    EXPECT_EQ(query.counterCount(), 1u);
    EXPECT_EQ(fake.openQueries.size(), 1u);  // the probe's own query was closed again
    std::vector<MetricValue> values;
    ASSERT_TRUE(query.collectValues(values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_DOUBLE_EQ(values[0].value, 4.2);
  }
  EXPECT_TRUE(fake.openQueries.empty());
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
  fake.objects[L"PhysicalDisk"] = {std::wstring(L"Disk Reads/sec\0", 16), std::wstring(L"sda\0", 5)};
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
  // Two failed tracked reads drop the counter even though PDH refuses to remove it.
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
