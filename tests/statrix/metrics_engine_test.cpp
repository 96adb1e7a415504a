// The metric engine's pure pieces (name lists, published numbers, the metric table), then the
// counter query against a scripted PDH where the real one cannot be made to misbehave: sizes not
// to be trusted and values marked invalid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <limits>
#include <string>

#include "cpumem_watch_env.h"
#include "metrics/counter_names.h"
#include "metrics/counter_query.h"
#include "metrics/metric_definition.h"
#include "metrics/metric_publication.h"
#include "metrics/metric_table.h"
#include "metrics/perfmon_metric_manager.h"
#include "metrics/publication_names.h"
#include "metrics_request.h"
#include "winapi.h"

namespace {

using metrics_test::metricEntry;
using metrics_test::metricRequest;
using watch_test::Event;

TEST(CounterNames, MultiStringsNeverReadPastTheirLength) {
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

TEST(CounterNames, TheIndexListKeepsTheLastIndexOfANameAndIgnoresAnOddTail) {
  const wchar_t list[] = L"2\0System\0" L"4\0Memory\0" L"6\0System\0" L"9";
  const CounterNameIndex index = parseCounterNameIndex(CORE::corestring(std::wstring(list, std::size(list) - 1)));
  EXPECT_EQ(index, (CounterNameIndex{{L"Memory", 4}, {L"System", 6}}));
}

TEST(Publication, TruncationDwordSaturationAndLow32BitsOfNegatives) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
  const std::pair<double, int64_t> truncated[] = {{-1.5, -1},
                                                  {3.99, 3},
                                                  {std::nan(""), 0},
                                                  {kInf, kMax},
                                                  {-kInf, kMin},
                                                  {1e300, kMax},
                                                  {-9223372036854775808.0, kMin}};
  for (const auto& [value, expected] : truncated) EXPECT_EQ(truncateMetricValue(value), expected) << value;
  const std::pair<double, uint32_t> published[] = {{3.99, 3u},
                                                   {-1.5, 4294967295u},
                                                   {-4294967298.0, 4294967294u},
                                                   {4294967295.9, 4294967295u},
                                                   {4294967296.0 + 7, 4294967295u},
                                                   {24841416704.0, 4294967295u},
                                                   {std::nan(""), 0u},
                                                   {1e300, 0xFFFFFFFFu}};
  for (const auto& [value, expected] : published) EXPECT_EQ(publishedNumber(value), expected) << value;
}

TEST(MetricTable, OrdinaryPluginsCountEveryAddAndTheHelpdeskHoldsOneEntryPerNameAndRemovesOnlyItsOwn) {
  const auto add = [](const wchar_t* name) { return metricEntry(true, name, L"Memory", L"Available Bytes"); };
  const auto remove = [](const wchar_t* name) { return metricEntry(false, name, L"", L""); };
  MetricTable table;
  table.applyMetricRequests(metricRequest(L"other", {add(L"SHARED"), add(L"SHARED")}));
  CORE::PropertyBag removeOnly;  // an entry without "isAdd" removes
  removeOnly.add(L"strMetricName", L"SHARED");
  table.applyMetricRequests(metricRequest(L"other", {removeOnly, remove(L"NOPE")}));
  EXPECT_EQ(table.definitions().size(), 1u);
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

// A scripted PDH, made current by its constructor: every counter adds and reads `value` with its
// own status `cstatus`; the name lookup and the object listing report sizes not to be trusted.
struct FakePdh {
  double value = 2.0;
  DWORD cstatus = 0;
  std::wstring localName = L"Système";  // the name of every index
  int64_t lookupSizeDelta = 0;          // added to the size the lookup's sizing call reports
  DWORD listSize = 0xFFFFFFFF;          // the size the listing reports for both lists

  FakePdh() { current = this; }
  ~FakePdh() { current = nullptr; }
  const PdhFunctions& functions() const {
    static const PdhFunctions table{&open, &close, &add, &remove, &collect, &read, &lookup, &enumerate,
                                    &sessions, &freeMemory};
    return table;
  }

 private:
  static inline FakePdh* current = nullptr;

  static PDH_STATUS WINAPI open(LPCWSTR, DWORD_PTR, PDH_HQUERY* query) {
    *query = reinterpret_cast<PDH_HQUERY>(uintptr_t{0x10000});
    return 0;
  }
  static PDH_STATUS WINAPI close(PDH_HQUERY) { return 0; }
  static PDH_STATUS WINAPI add(PDH_HQUERY, LPCWSTR, DWORD_PTR, PDH_HCOUNTER* counter) {
    *counter = reinterpret_cast<PDH_HCOUNTER>(uintptr_t{0x20000});
    return 0;
  }
  static PDH_STATUS WINAPI remove(PDH_HCOUNTER) { return 0; }
  static PDH_STATUS WINAPI collect(PDH_HQUERY) { return 0; }
  static PDH_STATUS WINAPI read(PDH_HCOUNTER, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE value) {
    value->CStatus = current->cstatus;
    value->doubleValue = current->value;
    return 0;
  }
  static PDH_STATUS WINAPI lookup(LPCWSTR, DWORD, LPWSTR buffer, LPDWORD size) {
    const std::wstring& name = current->localName;
    if (buffer == nullptr) {
      *size = static_cast<DWORD>(static_cast<int64_t>(name.size() + 1) + current->lookupSizeDelta);
      return static_cast<PDH_STATUS>(PDH_MORE_DATA);
    }
    // Fills what the caller said it has; the terminator only when there is room for it.
    const size_t n = std::min<size_t>(*size, name.size());
    std::wmemcpy(buffer, name.data(), n);
    if (n < *size) buffer[n] = L'\0';
    return 0;
  }
  // Only the sizing call is answered: a caller that trusts the sizes gets an error next.
  static PDH_STATUS WINAPI enumerate(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR counters, LPDWORD counterLength, LPWSTR,
                                     LPDWORD instanceLength, DWORD, DWORD) {
    if (counters != nullptr) return static_cast<PDH_STATUS>(PDH_INVALID_ARGUMENT);
    *counterLength = current->listSize;
    *instanceLength = current->listSize;
    return static_cast<PDH_STATUS>(PDH_MORE_DATA);
  }
  static BOOL WINAPI sessions(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*) { return FALSE; }
  static void WINAPI freeMemory(PVOID) {}
};

TEST(MetricTable, TheHelpdeskNamesOfEntriesTheDefaultsReplaceGoWithThem) {
  const auto add = [](const wchar_t* name) { return metricEntry(true, name, L"Memory", L"Available Bytes"); };
  const auto remove = [](const wchar_t* name) { return metricEntry(false, name, L"", L""); };
  const auto entries = [](const MetricTable& table, const wchar_t* name) {
    return std::ranges::count_if(table.definitions(), [&](const MetricDefinition& d) { return d.strMetricName == name; });
  };
  FakePdh fake;
  const CounterNameIndex names;
  {
    // The help desk adds again what it added before the defaults: a fresh add.
    PerfmonMetricManager manager(fake.functions(), names);
    manager.table().applyMetricRequests(metricRequest(kHelpdeskPluginName, {add(L"HD")}));
    manager.loadDefaultMetrics();
    EXPECT_FALSE(manager.table().isHelpdeskMetric(L"HD"));
    manager.table().applyMetricRequests(metricRequest(kHelpdeskPluginName, {add(L"HD")}));
    EXPECT_EQ(entries(manager.table(), L"HD"), 1);
    EXPECT_TRUE(manager.table().isHelpdeskMetric(L"HD"));
  }
  {
    // Its remove of such a name leaves another plug-in's entry of the name alone.
    PerfmonMetricManager manager(fake.functions(), names);
    manager.table().applyMetricRequests(metricRequest(kHelpdeskPluginName, {add(L"HD")}));
    manager.loadDefaultMetrics();
    manager.table().applyMetricRequests(metricRequest(L"other", {add(L"HD")}));
    manager.table().applyMetricRequests(metricRequest(kHelpdeskPluginName, {remove(L"HD")}));
    EXPECT_EQ(entries(manager.table(), L"HD"), 1);
    EXPECT_EQ(manager.table().definitions().size(), 8u);  // the seven defaults and the other's
  }
}

class CounterQueryTest : public ::testing::Test {
 protected:
  // Log lines of one level starting with `prefix`.
  size_t logs(int level, const std::wstring& prefix) const {
    return recorder.count([&](const Event& e) { return e.level == level && e.text.starts_with(prefix); });
  }

  FakePdh fake;
  CounterNameIndex names;  // empty: every name stays English
  watch_test::Recorder recorder;
};

TEST_F(CounterQueryTest, KeysHoldTypeThenSessionFlagAndTheFirstCreatorsScaleWins) {
  MetricDefinition iops = defaultMetrics().at(5);
  iops.bSessionRelated = true;
  EXPECT_EQ(counterKey(iops).str(), L"PhysicalDisk^Disk Transfers/sec^_Total^DISK_IOPS^1^1");
  // The type as a signed 32-bit decimal, as "%d" writes it.
  for (const auto& [type, text] : std::vector<std::pair<uint32_t, std::wstring>>{
           {0, L"0"}, {10, L"10"}, {2147483647u, L"2147483647"}, {4294967295u, L"-1"}, {2147483648u, L"-2147483648"}}) {
    iops.dwType = type;
    EXPECT_EQ(counterKey(iops).str(), L"PhysicalDisk^Disk Transfers/sec^_Total^DISK_IOPS^" + text + L"^1");
  }
  iops.dwType = 1;
  // Definitions differing only in scale share one counter, read with the scale it was made with.
  fake.value = 0.0042;
  for (const int32_t first : {1000, 1}) {
    CounterQuery query(fake.functions(), names);
    const int32_t second = first == 1000 ? 1 : 1000;
    query.updateCounters({definitionFromEntry(metricEntry(true, L"Q", L"System", L"Threads", L"", first)),
                          definitionFromEntry(metricEntry(true, L"Q", L"System", L"Threads", L"", second))});
    ASSERT_EQ(query.counterCount(), 1u);
    std::vector<MetricValue> values;
    ASSERT_TRUE(query.collectValues(values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_NEAR(values[0].value, 0.0042 * first, 1e-12) << "first scale " << first;
  }
}

TEST_F(CounterQueryTest, LookupSizesAreNotTakenOnTrust) {
  names = {{L"System", 2}};
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
}

TEST_F(CounterQueryTest, AbsurdEnumerationSizesAreRefused) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({definitionFromEntry(metricEntry(true, L"", L"PhysicalDisk", L"*", L"*"))});
  EXPECT_EQ(logs(CORE::Warn, L"Failed to list counters for object PhysicalDisk, error: 0xc0000bc2"), 1u);
  EXPECT_EQ(query.counterCount(), 0u);
}

TEST_F(CounterQueryTest, ValueMarkedInvalidByItsOwnStatusIsAFailedRead) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({definitionFromEntry(metricEntry(true, L"Q", L"System", L"Processor Queue Length"))});
  fake.cstatus = static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
  std::vector<MetricValue> values;
  ASSERT_TRUE(query.collectValues(values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter, error: 0xc0000bba"), 1u);
}

// The registry figure of a counter's published value; empty when absent.
std::wstring published(const wchar_t* counter) {
  const auto value = CORE::registryRead(publicationPath(counter));
  return value ? value->text.str() : std::wstring();
}

TEST_F(CounterQueryTest, RegistryFiguresAreTrueOrAbsentAndLeaveWithTheirMetric) {
  watch_test::temporaryRegistry();
  CORE::PropertyBag reply;
  auto config = [&](PerfmonMetricManager& manager, CORE::PropertyBag request) {
    configPerfmonMetrics(manager, request, reply);
  };
  // A scaled value above a DWORD is published as the largest DWORD; one beyond 64 bits (scale
  // -1 is 4294967295) or no number fails the read: not replied, not published, logged, and
  // gone after two failed tracked reads.
  struct Case {
    double value;
    int32_t scale;
    const wchar_t* registry;  // nullptr: the read fails
  };
  const Case cases[] = {{24841416704.0, 1, L"4294967295"},
                        {3.0e9, 2, L"4294967295"},
                        {-1.5, 1, L"4294967295"},
                        {3.0e9, -1, nullptr},
                        {std::nan(""), 1, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    recorder.clear();
    PerfmonMetricManager manager(fake.functions(), names);
    manager.initialiseOnce([] {});
    config(manager, metricRequest(L"other", {metricEntry(true, L"AVAIL", L"Memory", L"Available Bytes", L"", c.scale)}));
    fake.value = c.value;
    CORE::PropertyBag request, answer;
    collectMetricsForReply(manager, request, answer);
    publishMetricStats(manager);
    if (c.registry != nullptr) {
      EXPECT_EQ(published(L"Available Bytes"), c.registry);
      EXPECT_TRUE(answer.has(L"AVAIL"));
      continue;
    }
    EXPECT_EQ(published(L"Available Bytes"), L"0");
    EXPECT_FALSE(answer.has(L"AVAIL"));
    EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter, error: 0xc0000bc6"), 1u);
    publishMetricStats(manager);
    EXPECT_EQ(manager.query().counterCount(), 0u);
  }

  // A metric that leaves the table takes its figure with it, whoever removes it.
  fake.value = 7;
  PerfmonMetricManager manager(fake.functions(), names);
  manager.initialiseOnce([] {});
  config(manager, metricRequest(L"other", {metricEntry(true, L"QUEUE", L"System", L"Processor Queue Length")}));
  publishMetricStats(manager);
  ASSERT_EQ(published(L"Processor Queue Length"), L"7");
  config(manager, metricRequest(L"third", {metricEntry(false, L"QUEUE", L"", L"")}));
  EXPECT_EQ(published(L"Processor Queue Length"), L"0");

  // A counter name with backslashes is one value under "Performance Stats", never keys.
  const wchar_t hostile[] = L"Available Bytes\\..\\Performance Alarms\\OverallCpuPercentage";
  config(manager, metricRequest(L"other", {metricEntry(true, L"HOSTILE", L"Memory", hostile)}));
  publishMetricStats(manager);
  EXPECT_EQ(published(hostile), L"7");
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vantrel\\Orvane\\Performance Stats\\Available Bytes", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  if (key != nullptr) RegCloseKey(key);
}

}  // namespace
