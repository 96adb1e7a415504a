// Tests of counter names: the English index list in the registry, lookups by index in the local
// language, and object item enumeration with PDH's size protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pdh_test_env.h"

namespace {

using pdh_test::PdhTest;

std::vector<std::wstring> splitMulti(const wchar_t* block, size_t chars) {
  std::vector<std::wstring> items;
  for (size_t i = 0; i < chars && block[i];) {
    std::wstring item(block + i);
    i += item.size() + 1;
    items.push_back(item);
  }
  return items;
}

// The English list under any spelling of its key.
std::vector<std::wstring> englishCounterValue() {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\microsoft\\Windows NT\\CurrentVersion\\PERFLIB\\009", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Counter", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1);
  EXPECT_EQ(RegQueryValueExW(key, L"Counter", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  RegCloseKey(key);
  return splitMulti(data.data(), size / sizeof(wchar_t));
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

// Both lists of an object through the size protocol: a call for the sizes, then one with room.
PDH_STATUS enumerate(const wchar_t* object, std::vector<std::wstring>* counters, std::vector<std::wstring>* instances) {
  DWORD counterSize = 0, instanceSize = 0;
  PDH_STATUS s = PdhEnumObjectItemsW(nullptr, nullptr, object, nullptr, &counterSize, nullptr, &instanceSize,
                                     PERF_DETAIL_WIZARD, 0);
  if (s != PDH_MORE_DATA) return s;
  std::vector<wchar_t> c(counterSize, L'x'), i(instanceSize + 1, L'x');
  s = PdhEnumObjectItemsW(nullptr, nullptr, object, c.data(), &counterSize, i.data(), &instanceSize, PERF_DETAIL_WIZARD,
                          0);
  if (s == ERROR_SUCCESS) {
    EXPECT_TRUE(counterSize >= 2 && !c[counterSize - 1] && !c[counterSize - 2]) << "two NULs end it";
  }
  *counters = splitMulti(c.data(), counterSize);
  *instances = splitMulti(i.data(), instanceSize);
  return s;
}

TEST_F(PdhTest, NamesByIndexComeFromTheLocalListThenTheEnglishOne) {
  auto english = englishCounterValue();
  ASSERT_EQ(english.size() % 2, 0u);
  EXPECT_NE(std::find(english.begin(), english.end(), L"Processor"), english.end());
  EXPECT_EQ(lookup(238), L"Processor");
  PDH_STATUS status = 0;
  lookup(99999, &status);
  EXPECT_EQ(status, PDH_INVALID_ARGUMENT);
  DWORD size = 3;
  wchar_t small[3];
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, &size), PDH_MORE_DATA);
  EXPECT_EQ(size, 7u);  // "Memory" and its NUL
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, nullptr), PDH_INVALID_ARGUMENT);

  writeFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage/Counter",
            "multi_sz:\n238\nProzessor\n6\nProzessorzeit (%)\n");
  EXPECT_EQ(lookup(238), L"Prozessor");
  EXPECT_EQ(lookup(4), L"Memory");  // not in the local list: English
  // Paths in the local language name the same counters; English ones still answer.
  tree.setCpus({{100, 0, 0, 100}});
  open();
  HCOUNTER local = add(L"\\Prozessor(_Total)\\Prozessorzeit (%)"), idle = add(L"\\Processor(0)\\% Idle Time");
  collectAfter(1);
  tree.setCpus({{130, 0, 10, 160}});
  collectAfter(1);
  EXPECT_EQ(read(local), 40);
  EXPECT_EQ(read(idle), 60);
  // A list of the registry root's own is served instead of the built-in one.
  writeFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/009/Counter",
            "multi_sz:\n2\nSystem\n4\nMemory\n");
  EXPECT_EQ(englishCounterValue(), (std::vector<std::wstring>{L"2", L"System", L"4", L"Memory"}));
}

TEST_F(PdhTest, EnumerationFollowsTheCurrentInstanceListInTheLocalLanguage) {
  std::vector<std::wstring> counters, instances;
  tree.setDisks({{"sda"}, {"sda1"}, {"loop0"}});
  ASSERT_EQ(enumerate(L"PhysicalDisk", &counters, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances, (std::vector<std::wstring>{L"sda", L"_Total"}));
  EXPECT_EQ(counters.size(), 14u);

  // A disk appears: the old sizes are short now.
  DWORD counterSize = 0, instanceSize = 0;
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", nullptr, &counterSize, nullptr, &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  EXPECT_EQ(instanceSize, 4u + 7u + 1u);  // "sda", "_Total", the closing NUL
  std::vector<wchar_t> c(counterSize), i(instanceSize);
  tree.setDisks({{"sda"}, {"sda1"}, {"nvme0n1"}, {"nvme0n1p1"}});
  ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, L"PhysicalDisk", c.data(), &counterSize, i.data(), &instanceSize,
                                PERF_DETAIL_WIZARD, 0),
            PDH_MORE_DATA);
  EXPECT_EQ(instanceSize, 4u + 8u + 7u + 1u);

  // Processors "0".."n-1" and "_Total"; interfaces without a total; no instances for Memory.
  tree.setCpuCount(3);
  tree.setInterfaces({{"lo"}, {"eth(0)#1"}});
  struct {
    const wchar_t* object;
    std::vector<std::wstring> instances;
  } cases[] = {{L"Processor", {L"0", L"1", L"2", L"_Total"}},
               {L"Network Interface", {L"lo", L"eth[0]_1"}},
               {L"Memory", {}}};
  for (const auto& k : cases) {
    ASSERT_EQ(enumerate(k.object, &counters, &instances), ERROR_SUCCESS);
    EXPECT_EQ(instances, k.instances);
  }
  // The sizes of an object without instances and of an empty list (its two NULs).
  tree.setInterfaces({});
  for (auto [object, size] : {std::pair{L"Memory", 0u}, {L"Network Interface", 2u}}) {
    counterSize = instanceSize = 0;
    ASSERT_EQ(PdhEnumObjectItemsW(nullptr, nullptr, object, nullptr, &counterSize, nullptr, &instanceSize,
                                  PERF_DETAIL_WIZARD, 0),
              PDH_MORE_DATA);
    EXPECT_EQ(instanceSize, size);
  }
  EXPECT_EQ(enumerate(L"Nothing", &counters, &instances), PDH_CSTATUS_NO_OBJECT);
  EXPECT_EQ(
      PdhEnumObjectItemsW(nullptr, nullptr, L"Memory", nullptr, nullptr, nullptr, &instanceSize, PERF_DETAIL_WIZARD, 0),
      PDH_INVALID_ARGUMENT);

  // In a second language, either name of the object answers with the local counter names.
  writeFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage/Counter",
            "multi_sz:\n238\nProzessor\n6\nProzessorzeit (%)\n");
  for (const wchar_t* object : {L"Processor", L"Prozessor"}) {
    ASSERT_EQ(enumerate(object, &counters, &instances), ERROR_SUCCESS);
    EXPECT_NE(std::find(counters.begin(), counters.end(), L"Prozessorzeit (%)"), counters.end());
    EXPECT_NE(std::find(counters.begin(), counters.end(), L"% User Time"), counters.end());
  }
}

}  // namespace
