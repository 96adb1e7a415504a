// The metric engine's pure pieces (name lists, published numbers, the metric table), then the
// counter query against a scripted PDH where the real one cannot be made to misbehave: sizes not
// to be trusted and values marked invalid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <limits>
#include <map>

#include "cpumem_watch_env.h"
#include "metrics/counter_names.h"
#include "metrics/counter_query.h"
#include "metrics/metric_table.h"
#include "metrics/publication_names.h"
#include "metrics_request.h"

namespace {

using metrics_test::metricEntry;
using metrics_test::metricRequest;
using watch_test::Event;

MetricDefinition def(const wchar_t* object, const wchar_t* counter, const wchar_t* instance, const wchar_t* name) {
  MetricDefinition d;
  d.strCounterObject = object;
  d.strCounter = counter;
  d.strInstance = instance;
  d.strMetricName = name;
  return d;
}

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

TEST(Publication, Low32BitsTruncationAndSaturationOfUnrepresentableValues) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
  const std::pair<double, int64_t> truncated[] = {{-1.5, -1},     {3.99, 3},    {std::nan(""), 0}, {kInf, kMax},
                                                  {-kInf, kMin}, {1e300, kMax}, {-9223372036854775808.0, kMin}};
  for (const auto& [value, expected] : truncated) EXPECT_EQ(truncateMetricValue(value), expected) << value;
  const std::pair<double, uint32_t> published[] = {
      {3.99, 3u}, {-1.5, 4294967295u}, {4294967296.0 + 7, 7u}, {std::nan(""), 0u}, {1e300, 0xFFFFFFFFu}};
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

// A scripted PDH, made current by its constructor: paths it knows can be added, and reading one
// gives the path's current value and its own status.
struct FakePdh {
  struct Reading {
    double value = 0.0;
    DWORD cstatus = 0;
  };
  std::map<std::wstring, Reading> paths;
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> objects;  // counters, instances (NUL lists)
  std::map<DWORD, std::wstring> localNames;
  int64_t lookupSizeDelta = 0;  // added to the size the name lookup's sizing call reports
  DWORD enumSizeOverride = 0;   // if set, reported for both lists

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
    *query = reinterpret_cast<PDH_HQUERY>(uintptr_t{0x10000});
    return 0;
  }
  static PDH_STATUS WINAPI close(PDH_HQUERY) { return 0; }
  static PDH_STATUS WINAPI add(PDH_HQUERY, LPCWSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
    if (current->paths.count(path) == 0) return status(PDH_CSTATUS_NO_COUNTER);
    const uintptr_t id = current->next_++;
    current->counters_[id] = path;
    *counter = reinterpret_cast<PDH_HCOUNTER>(id);
    return 0;
  }
  static PDH_STATUS WINAPI remove(PDH_HCOUNTER counter) {
    current->counters_.erase(reinterpret_cast<uintptr_t>(counter));
    return 0;
  }
  static PDH_STATUS WINAPI collect(PDH_HQUERY) { return 0; }
  static PDH_STATUS WINAPI read(PDH_HCOUNTER counter, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE value) {
    const Reading& r = current->paths[current->counters_.at(reinterpret_cast<uintptr_t>(counter))];
    value->CStatus = r.cstatus;
    value->doubleValue = r.value;
    return 0;
  }
  static PDH_STATUS WINAPI lookup(LPCWSTR, DWORD index, LPWSTR buffer, LPDWORD size) {
    const auto it = current->localNames.find(index);
    if (it == current->localNames.end()) return status(PDH_INVALID_ARGUMENT);
    const std::wstring& name = it->second;
    if (buffer == nullptr) {
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
    std::wmemcpy(counters, c.data(), std::min<size_t>(c.size(), *counterLength));
    if (instances != nullptr) std::wmemcpy(instances, i.data(), std::min<size_t>(i.size(), *instanceLength));
    return 0;
  }
  static BOOL WINAPI sessions(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*) { return FALSE; }
  static void WINAPI freeMemory(PVOID) {}
};

class CounterQueryTest : public ::testing::Test {
 protected:
  CounterQueryTest() {
    fake.paths[L"\\Processor(_Total)\\% User Time"] = {};  // the probe
    fake.paths[L"\\System\\Processor Queue Length"] = {2.0};
  }
  // Log lines of one level starting with `prefix`.
  size_t logs(int level, const std::wstring& prefix) const {
    return recorder.count([&](const Event& e) { return e.level == level && e.text.starts_with(prefix); });
  }

  FakePdh fake;
  CounterNameIndex names;  // empty: every name stays English
  watch_test::Recorder recorder;
};

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
}

TEST_F(CounterQueryTest, AbsurdEnumerationSizesAreRefused) {
  CounterQuery query(fake.functions(), names);
  fake.objects[L"PhysicalDisk"] = {std::wstring(L"Disk Reads/sec\0", 16), std::wstring(L"sda\0", 5)};
  fake.enumSizeOverride = 0xFFFFFFFF;
  query.updateCounters({def(L"PhysicalDisk", L"*", L"*", L"")});
  EXPECT_EQ(logs(CORE::Warn, L"Failed to list counters for object PhysicalDisk, error: 0xc0000bc2"), 1u);
  EXPECT_EQ(query.counterCount(), 0u);
}

TEST_F(CounterQueryTest, ValueMarkedInvalidByItsOwnStatusIsAFailedRead) {
  CounterQuery query(fake.functions(), names);
  query.updateCounters({def(L"System", L"Processor Queue Length", L"", L"Q")});
  fake.paths[L"\\System\\Processor Queue Length"].cstatus = static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
  std::vector<MetricValue> values;
  ASSERT_TRUE(query.collectValues(values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(logs(CORE::Error, L"Failed to get data from counter, error: 0xc0000bba"), 1u);
}

}  // namespace
