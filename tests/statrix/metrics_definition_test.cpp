// Pure pieces of the metric engine: keys, name lists, paths, publication names and numbers,
// expansion, and the add/remove bookkeeping of the metric table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "metrics/counter_expansion.h"
#include "metrics/counter_names.h"
#include "metrics/metric_table.h"
#include "metrics/publication_names.h"

namespace {

MetricDefinition def(const wchar_t* object, const wchar_t* counter, const wchar_t* instance, const wchar_t* name,
                     uint32_t type = 0, bool session = false, uint32_t scale = 1) {
  MetricDefinition d;
  d.strCounterObject = object;
  d.strCounter = counter;
  d.strInstance = instance;
  d.strMetricName = name;
  d.dwType = type;
  d.bSessionRelated = session;
  d.dwScale = scale;
  return d;
}

CORE::PropertyBag entry(bool isAdd, const wchar_t* name, const wchar_t* object = L"Memory",
                        const wchar_t* counter = L"Available Bytes") {
  CORE::PropertyBag e;
  e.add(L"strMetricName", name);
  e.add(L"strCounterObject", object);
  e.add(L"strCounter", counter);
  e.addBool(L"isAdd", isAdd);
  return e;
}

CORE::PropertyBag request(const wchar_t* plugin, std::vector<CORE::PropertyBag> entries) {
  CORE::PropertyBag r;
  r.add(L"plugin_name", plugin);
  for (const auto& e : entries) r.addBag(L"statrixMetrics", e, true);
  return r;
}

TEST(CounterKey, FieldsInOrderTypeBeforeSessionScaleLeftOut) {
  EXPECT_EQ(counterKey(MetricDefinition{}).str(), L"^^^^0^0");
  const auto defaults = defaultMetrics();
  ASSERT_EQ(defaults.size(), 7u);
  EXPECT_EQ(counterKey(defaults[5]).str(), L"PhysicalDisk^Disk Transfers/sec^_Total^DISK_IOPS^1^0");
  EXPECT_EQ(counterKey(def(L"A", L"B", L"", L"M", 7, true, 1000)).str(), L"A^B^^M^7^1");
  EXPECT_EQ(counterKey(def(L"A", L"B", L"", L"M", 0, false, 1)), counterKey(def(L"A", L"B", L"", L"M", 0, false, 5)));
  EXPECT_NE(counterKey(def(L"A", L"B", L"", L"M", 1)), counterKey(def(L"A", L"B", L"", L"M", 2)));
  EXPECT_NE(counterKey(def(L"Memory", L"B", L"", L"M")), counterKey(def(L"memory", L"B", L"", L"M")));
  // Ordinal order: upper case sorts before lower case, "^" (0x5E) after upper-case letters.
  EXPECT_LT(counterKey(def(L"Memory", L"B", L"", L"M")), counterKey(def(L"memory", L"B", L"", L"M")));
  EXPECT_LT(counterKey(def(L"AB", L"", L"", L"")), counterKey(def(L"A", L"", L"", L"")));
}

TEST(CounterNameIndex, PairsFromTheNulSeparatedList) {
  std::wstring text;
  for (const wchar_t* part : {L"1", L"1847", L"2", L"System", L"4", L"Memory", L"230", L"System", L"9"}) {
    text += part;
    text += L'\0';
  }
  text.pop_back();
  const CounterNameIndex index = parseCounterNameIndex(CORE::corestring(text));
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.at(L"System"), 230);  // the later pair wins
  EXPECT_EQ(index.at(L"Memory"), 4);
  EXPECT_EQ(index.at(L"1847"), 1);
  EXPECT_TRUE(parseCounterNameIndex(L"").empty());
  EXPECT_EQ(parseCounterNameIndex(CORE::corestring(std::wstring(L"x\0Name", 6))).at(L"Name"), 0);
}

TEST(MultiString, NamesUpToTheEmptyOneAndNeverPastTheLength) {
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

TEST(CounterPath, InstanceInParenthesesOnlyWhenPresent) {
  EXPECT_EQ(formatCounterPath(L"PhysicalDisk", L"_Total", L"Avg. Disk sec/Read").str(),
            L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read");
  EXPECT_EQ(formatCounterPath(L"Memory", L"", L"Pages/sec").str(), L"\\Memory\\Pages/sec");
}

TEST(Publication, ValueNamePathAndLow32Bits) {
  EXPECT_EQ(publicationValueName(L"Pages Input/sec").str(), L"Pages Input per sec");
  EXPECT_EQ(publicationValueName(L"a/b/c").str(), L"a per b per c");
  EXPECT_EQ(publicationValueName(L"*").str(), L"*");
  EXPECT_EQ(publicationPath(L"Avg. Disk sec/Read").str(),
            L"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\Avg. Disk sec per Read");
  EXPECT_EQ(publishedNumber(0.004), 0u);
  EXPECT_EQ(publishedNumber(3.99), 3u);
  EXPECT_EQ(publishedNumber(-1.5), 4294967295u);
  EXPECT_EQ(publishedNumber(4294967296.0 + 7), 7u);
  EXPECT_EQ(truncateMetricValue(-1.5), -1);
  EXPECT_EQ(truncateMetricValue(3.99), 3);
}

TEST(Publication, UnrepresentableValuesSaturateInsteadOfUndefinedConversions) {
  EXPECT_EQ(truncateMetricValue(std::nan("")), 0);
  EXPECT_EQ(truncateMetricValue(std::numeric_limits<double>::infinity()), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateMetricValue(-std::numeric_limits<double>::infinity()), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(truncateMetricValue(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateMetricValue(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(publishedNumber(std::nan("")), 0u);
  EXPECT_EQ(publishedNumber(1e300), 0xFFFFFFFFu);
}

TEST(Expansion, PairsCountersOuterAndNamesThem) {
  const std::vector<CORE::corestring> counters{L"Reads", L"Writes"};
  const std::vector<CORE::corestring> instances{L"sda", L"_Total"};
  auto all = expandDefinition(def(L"PhysicalDisk", L"*", L"*", L"", 3, true, 1000), counters, instances);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1].strCounter.str(), L"Reads");
  EXPECT_EQ(all[1].strInstance.str(), L"_Total");
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
  e.addBool(L"bSessionRelated", true);
  d = definitionFromEntry(e);
  EXPECT_EQ(d.dwType, 4294967295u);
  EXPECT_EQ(d.dwScale, 0u);
  EXPECT_TRUE(d.bSessionRelated);
  // The announced form reads back as the same definition.
  const MetricDefinition back = definitionFromEntry(entryFromDefinition(defaultMetrics()[3]));
  EXPECT_EQ(counterKey(back), counterKey(defaultMetrics()[3]));
  EXPECT_TRUE(entryFromDefinition(back).getBool(L"isAdd"));
}

TEST(MetricTable, OrdinaryPluginsCountEveryAddAndRemoveByName) {
  MetricTable table;
  table.applyMetricRequests(request(L"other", {entry(true, L"AVAIL"), entry(true, L"AVAIL")}));
  EXPECT_EQ(table.definitions().size(), 2u);
  // An entry without "isAdd" removes; a remove of an unknown name changes nothing.
  CORE::PropertyBag removeOnly;
  removeOnly.add(L"strMetricName", L"AVAIL");
  table.applyMetricRequests(request(L"", {removeOnly, entry(false, L"NOPE")}));
  EXPECT_EQ(table.definitions().size(), 1u);
  EXPECT_TRUE(table.helpdeskMetricNames().empty());
}

TEST(MetricTable, HelpdeskPluginHoldsOneEntryPerNameAndRemovesOnlyItsOwn) {
  MetricTable table;
  table.applyMetricRequests(request(L"other", {entry(true, L"SHARED")}));
  table.applyMetricRequests(request(kHelpdeskPluginName, {entry(true, L"HD"), entry(true, L"HD")}));
  EXPECT_EQ(table.definitions().size(), 2u);
  EXPECT_TRUE(table.isHelpdeskMetric(L"HD"));
  table.applyMetricRequests(request(kHelpdeskPluginName, {entry(false, L"SHARED")}));
  EXPECT_EQ(table.definitions().size(), 2u);  // never added by the help desk: untouched
  table.applyMetricRequests(request(kHelpdeskPluginName, {entry(false, L"HD")}));
  EXPECT_EQ(table.definitions().size(), 1u);
  EXPECT_FALSE(table.isHelpdeskMetric(L"HD"));
  // A remove by name takes the first entry of the name, whoever added it.
  table.applyMetricRequests(request(L"third", {entry(false, L"SHARED")}));
  EXPECT_TRUE(table.definitions().empty());
}

}  // namespace
