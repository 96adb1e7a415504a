// Tests of counter names: the English index list in the registry, lookups by index, a second
// display language end to end, and object item enumeration with PDH's size protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pdh_test_env.h"

namespace {

using pdh_test::PdhTest;
using statrix_test::FakeDisk;

constexpr wchar_t kPerflib[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char kLanguageKey[] = "HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage/Counter";

std::vector<std::wstring> splitMulti(const wchar_t* block, size_t chars) {
  std::vector<std::wstring> items;
  for (size_t i = 0; i < chars && block[i];) {
    std::wstring item(block + i);
    i += item.size() + 1;
    items.push_back(item);
  }
  return items;
}

std::vector<std::wstring> englishCounterValue() {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPerflib, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Counter", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1);
  EXPECT_EQ(RegQueryValueExW(key, L"Counter", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  RegCloseKey(key);
  return splitMulti(data.data(), size / sizeof(wchar_t));
}

bool hasPair(const std::vector<std::wstring>& list, const std::wstring& index, const std::wstring& name) {
  for (size_t i = 0; i + 1 < list.size(); i += 2)
    if (list[i] == index && list[i + 1] == name) return true;
  return false;
}

std::wstring lookup(DWORD index, PDH_STATUS* status = nullptr) {
  DWORD size = 0;
  PDH_STATUS s = PdhLookupPerfNameByIndexW(nullptr, index, nullptr, &size);
  if (status) *status = s;
  if (s != PDH_MORE_DATA) return L"";
  std::vector<wchar_t> buffer(size);
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, index, buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, buffer.size());
  return buffer.data();
}

TEST_F(PdhTest, TheEnglishIndexListIsServedUnlessTheRegistryRootHoldsOne) {
  auto list = englishCounterValue();
  ASSERT_EQ(list.size() % 2, 0u);
  for (auto pair : {std::pair{L"2", L"System"}, {L"4", L"Memory"}, {L"238", L"Processor"}, {L"234", L"PhysicalDisk"},
                    {L"510", L"Network Interface"}, {L"44", L"Processor Queue Length"}, {L"822", L"Pages Input/sec"},
                    {L"48", L"Pages Output/sec"}, {L"208", L"Avg. Disk sec/Read"}, {L"210", L"Avg. Disk sec/Write"},
                    {L"212", L"Disk Transfers/sec"}, {L"198", L"Current Disk Queue Length"}, {L"142", L"% User Time"}})
    EXPECT_TRUE(hasPair(list, pair.first, pair.second)) << std::string(pair.second, pair.second + wcslen(pair.second));
  // Any spelling of the key; other values of it stay absent.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\microsoft\\Windows NT\\CurrentVersion\\PERFLIB\\009", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Help", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\007", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_FILE_NOT_FOUND);

  writeRegistryFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/009/Counter",
                    "multi_sz:\n2\nSystem\n4\nMemory\n");
  EXPECT_EQ(englishCounterValue(), (std::vector<std::wstring>{L"2", L"System", L"4", L"Memory"}));
}

TEST_F(PdhTest, LookupByIndexUsesTheSizeProtocol) {
  EXPECT_EQ(lookup(238), L"Processor");
  EXPECT_EQ(lookup(1482), L"% Idle Time");
  PDH_STATUS status = 0;
  lookup(99999, &status);
  EXPECT_EQ(status, PDH_INVALID_ARGUMENT);
  DWORD size = 3;
  wchar_t small[3];
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, &size), PDH_MORE_DATA);
  EXPECT_EQ(size, 7u);  // "Memory" and its NUL
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, nullptr), PDH_INVALID_ARGUMENT);
}

TEST_F(PdhTest, ASecondLanguageNamesCountersAndItsPathsAreCollected) {
  writeRegistryFile(kLanguageKey,
                    "multi_sz:\n238\nProzessor\n6\nProzessorzeit (%)\n1482\nLeerlaufzeit (%)\n234\n"
                    "Physikalischer Datenträger\n208\nMittlere Sek./Lesevorgänge\n");
  EXPECT_EQ(lookup(238), L"Prozessor");
  EXPECT_EQ(lookup(208), L"Mittlere Sek./Lesevorgänge");
  EXPECT_EQ(lookup(4), L"Memory");  // not in the local list: English
  // The English list the module maps names with is still English.
  EXPECT_TRUE(hasPair(englishCounterValue(), L"238", L"Processor"));

  tree.setCpus({{100, 0, 0, 100}});
  tree.setDisks({{"sda", 10, 0, 10}});
  open();
  HCOUNTER local = add(L"\\Prozessor(_Total)\\Prozessorzeit (%)");
  HCOUNTER idle = add(L"\\Prozessor(0)\\Leerlaufzeit (%)");
  HCOUNTER english = add(L"\\Processor(_Total)\\% Processor Time");
  HCOUNTER disk = add(L"\\Physikalischer Datenträger(_Total)\\Mittlere Sek./Lesevorgänge");
  collectAfter(1);
  tree.setCpus({{130, 0, 10, 160}});
  tree.setDisks({{"sda", 20, 0, 60}});
  collectAfter(1);
  EXPECT_EQ(read(local), 40);
  EXPECT_EQ(read(idle), 60);
  EXPECT_EQ(read(english), 40);
  EXPECT_NEAR(read(disk), 0.005, 1e-12);

  // Enumeration answers in the local language, under either name of the object.
  DWORD counterSize = 0, instanceSize = 0;
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"Processor", nullptr, &counterSize, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  std::vector<wchar_t> counters(counterSize), instances(instanceSize);
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"Prozessor", counters.data(), &counterSize, instances.data(),
                                &instanceSize, PERF_DETAIL_WIZARD, 0),
            ERROR_SUCCESS);
  auto names = splitMulti(counters.data(), counterSize);
  EXPECT_NE(std::find(names.begin(), names.end(), L"Prozessorzeit (%)"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), L"% User Time"), names.end());
}

TEST_F(PdhTest, EnumerationFollowsTheCurrentInstanceList) {
  tree.setDisks({{"sda"}, {"sda1"}, {"loop0"}});
  DWORD counterSize = 0, instanceSize = 0;
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", nullptr, &counterSize, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  EXPECT_EQ(instanceSize, 4u + 7u + 1u);  // "sda", "_Total", the closing NUL
  std::vector<wchar_t> counters(counterSize), instances(instanceSize);
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", counters.data(), &counterSize, instances.data(),
                                &instanceSize, PERF_DETAIL_WIZARD, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(splitMulti(instances.data(), instanceSize), (std::vector<std::wstring>{L"sda", L"_Total"}));
  EXPECT_EQ(counters[counterSize - 1], L'\0');
  EXPECT_EQ(counters[counterSize - 2], L'\0');
  EXPECT_EQ(splitMulti(counters.data(), counterSize).size(), 14u);

  // A disk appears: the old sizes are short now.
  tree.setDisks({{"sda"}, {"sda1"}, {"nvme0n1"}, {"nvme0n1p1"}});
  DWORD shortSize = instanceSize;
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", counters.data(), &counterSize, instances.data(),
                                &shortSize, PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  EXPECT_EQ(shortSize, 4u + 8u + 7u + 1u);
  instances.resize(shortSize);
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", counters.data(), &counterSize, instances.data(),
                                &shortSize, PERF_DETAIL_WIZARD, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(splitMulti(instances.data(), shortSize), (std::vector<std::wstring>{L"sda", L"nvme0n1", L"_Total"}));

  // Processors "0".."n-1" and "_Total"; interfaces without a total; no instances for Memory.
  tree.setCpuCount(3);
  tree.setInterfaces({{"lo"}, {"eth(0)#1"}});
  struct {
    const wchar_t* object;
    std::vector<std::wstring> instances;
  } cases[] = {{L"Processor", {L"0", L"1", L"2", L"_Total"}},
               {L"Network Interface", {L"lo", L"eth[0]_1"}},
               {L"Memory", {}}};
  for (const auto& c : cases) {
    counterSize = instanceSize = 0;
    ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, c.object, nullptr, &counterSize, nullptr, &instanceSize,
                                  PERF_DETAIL_WIZARD, 0),
              PDH_MORE_DATA);
    counters.assign(counterSize, L'x');
    instances.assign(instanceSize + 1, L'x');
    ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, c.object, counters.data(), &counterSize, instances.data(),
                                  &instanceSize, PERF_DETAIL_WIZARD, 0),
              ERROR_SUCCESS);
    EXPECT_EQ(splitMulti(instances.data(), instanceSize), c.instances);
  }
  EXPECT_EQ(instanceSize, 0u);  // no instance list for an object without instances
  tree.setInterfaces({});
  counterSize = instanceSize = 0;
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"Network Interface", nullptr, &counterSize, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  EXPECT_EQ(instanceSize, 2u);  // an empty list: its two NULs
  EXPECT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"Nothing", nullptr, &counterSize, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_CSTATUS_NO_OBJECT);
  EXPECT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"Memory", nullptr, nullptr, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_INVALID_ARGUMENT);
}

}  // namespace
