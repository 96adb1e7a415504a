// Tests of the PDH functions over fixture trees: values to the unit with known deltas, PDH's
// status codes, instances that vanish, figures that go backwards, the English counter list a
// registry root may hold, and object item enumeration with PDH's size protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pdh/pdh_query.h"
#include "pdh/perf_values.h"
#include "support/linux/fixture_tree.h"
#include "winapi/temp_registry.h"
#include "winapi.h"

namespace {

uint64_t fakeNow = 0;
uint64_t readFakeNow() { return fakeNow; }

// A procfs fixture tree, an empty registry root and a collection clock the test advances, so
// rates are exact.
class PdhTest : public TempRegistry {
 protected:
  PdhTest() {
    tree.activate();
    fakeNow = 1'000'000'000'000;
    winapi_linux::pdh::setCollectionClock(readFakeNow);
  }
  ~PdhTest() override {
    if (query) PdhCloseQuery(query);
    winapi_linux::pdh::setCollectionClock(nullptr);
  }

  void open() { ASSERT_EQ(PdhOpenQueryW(nullptr, 0, &query), ERROR_SUCCESS); }

  HCOUNTER add(const std::wstring& path) {
    HCOUNTER counter = nullptr;
    EXPECT_EQ(PdhAddCounterW(query, path.c_str(), 0, &counter), ERROR_SUCCESS) << std::string(path.begin(), path.end());
    return counter;
  }

  // Moves the clock on, then collects.
  void collectAfter(double seconds) {
    fakeNow += static_cast<uint64_t>(seconds * 1e9);
    ASSERT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
  }

  double read(HCOUNTER counter) {
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS);
    return value.doubleValue;
  }

  // The read fails with PDH_INVALID_DATA and this counter status.
  void expectInvalid(HCOUNTER counter, DWORD cstatus = PDH_CSTATUS_INVALID_DATA) {
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    EXPECT_EQ(value.CStatus, cstatus);
  }

  statrix_test::FixtureTree tree;
  HQUERY query = nullptr;
};

TEST_F(PdhTest, ProcessorSharesUseEachProcessorsOwnTicksAndAddUpToOneHundred) {
  tree.setCpus({{100, 0, 50, 1000}, {200, 0, 20, 900}});
  open();
  const wchar_t* names[] = {L"% Processor Time", L"% User Time", L"% Privileged Time", L"% Idle Time"};
  HCOUNTER c[3][4];
  const wchar_t* instances[] = {L"0", L"1", L"_Total"};
  for (int i = 0; i < 3; ++i)
    for (int n = 0; n < 4; ++n) c[i][n] = add(std::wstring(L"\\Processor(") + instances[i] + L")\\" + names[n]);
  collectAfter(1);

  // cpu0: +40 user (30 user, 10 nice), +15 system, +45 idle (40 idle, 5 iowait) of 100 ticks;
  // cpu1: +10 user, +10 privileged (5 system, 3 irq, 2 softirq), +180 idle of 200 ticks.
  tree.setCpus({{130, 10, 65, 1040, 5}, {210, 0, 25, 1080, 0, 3, 2}});
  collectAfter(3);  // the wall-clock interval plays no part
  const double expected[3][4] = {{55, 40, 15, 45}, {10, 5, 5, 90}, {25, 50.0 / 3, 25.0 / 3, 75}};
  for (int i = 0; i < 3; ++i)
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(read(c[i][n]), expected[i][n], 1e-9) << i << " " << n;
  // Steal time counts as privileged time.
  tree.setCpus({{130, 10, 65, 1040, 5, 0, 0, 100}, {210, 0, 25, 1080, 0, 3, 2}});
  collectAfter(1);
  EXPECT_NEAR(read(c[0][2]), 100, 1e-9);
  EXPECT_NEAR(read(c[1][0]), 0, 1e-9);  // no tick passed: 0
}

// _Total, and which disks it sums (several whole disks, no partitions, no loop devices), is
// checked through wildcard expansion in the metrics tests.
TEST_F(PdhTest, DiskRatesAndAveragesAndTheCapOfDiskTime) {
  tree.setDisks({{"sda", 1000, 8000, 2000, 500, 4000, 3000, 1, 5000}});
  open();
  const wchar_t* names[] = {L"Disk Reads/sec",      L"Disk Writes/sec",        L"Disk Transfers/sec",
                            L"Disk Read Bytes/sec", L"Disk Write Bytes/sec",   L"Avg. Disk sec/Read",
                            L"Avg. Disk sec/Write", L"Avg. Disk sec/Transfer", L"% Disk Time",
                            L"% Idle Time",         L"Current Disk Queue Length"};
  HCOUNTER c[11];
  for (int n = 0; n < 11; ++n) c[n] = add(std::wstring(L"\\PhysicalDisk(sda)\\") + names[n]);
  collectAfter(1);
  EXPECT_EQ(read(c[10]), 1);  // a queue length needs one collection

  // sda: +100 reads in 500 ms, +50 writes in 1000 ms, 2000 and 400 sectors, busy 1000 of 2000 ms.
  tree.setDisks({{"sda", 1100, 10000, 2500, 550, 4400, 4000, 3, 6000}});
  collectAfter(2);
  const double expected[11] = {50, 25, 75, 512000, 102400, 0.005, 0.02, 0.01, 75, 50, 3};
  for (int n = 0; n < 11; ++n) EXPECT_NEAR(read(c[n]), expected[n], 1e-9) << n;

  // No I/O at all: averages are 0, not a division by zero.
  collectAfter(2);
  EXPECT_EQ(read(c[5]), 0);
  // 3 s of reading in 1 s (queued I/O): % Disk Time is capped at 100.
  tree.setDisks({{"sda", 1100, 10000, 5500, 550, 4400, 4000, 3, 6000}});
  collectAfter(1);
  EXPECT_EQ(read(c[8]), 100);
}

TEST_F(PdhTest, MemorySystemAndNetworkFigures) {
  tree.setCpuCount(2);
  tree.setMeminfo(16u << 20, 6u << 20);
  tree.setVmstat(1000, 10, 20);
  tree.setCounters(1000, 100, 5, 0);
  tree.setLoadavg(5, 321);
  tree.setUptime(1234567);
  tree.addProcesses(3);
  tree.setInterfaces({{"lo", 100, 1, 100, 1}, {"eth0", 1000, 10, 500, 5}});
  open();
  // Available Bytes and a Processor Queue Length of 3 (5 runnable on 2 processors) are checked
  // end to end, through the runner, as is an instantaneous figure after one collection.
  const struct {
    const wchar_t* path;
    double value;
  } figures[] = {
      {L"\\Memory\\Committed Bytes", 10.0 * (1ull << 30)},  // Committed_AS of the fixture: total - available
      {L"\\System\\Processes", 3},
      {L"\\System\\Threads", 321},
      {L"\\System\\System Up Time", 12345.67},
      {L"\\Memory\\Page Faults/sec", 250},
      {L"\\Memory\\Pages Input/sec", 15},
      {L"\\Memory\\Pages Output/sec", 30},
      {L"\\Memory\\Pages/sec", 45},
      {L"\\System\\Context Switches/sec", 2000},
      {L"\\System\\Processor Queue Length", 0},  // fewer runnable tasks than processors
      {L"\\Network Interface(eth0)\\Bytes Received/sec", 1000},
      {L"\\Network Interface(eth0)\\Bytes Sent/sec", 500},
      {L"\\Network Interface(eth0)\\Bytes Total/sec", 1500},
      {L"\\Network Interface(eth0)\\Packets/sec", 15},
  };
  std::vector<HCOUNTER> counters;
  for (const auto& f : figures) counters.push_back(add(f.path));
  collectAfter(1);
  // A counter added later needs two collections of its own.
  HCOUNTER late = add(L"\\System\\Context Switches/sec");

  tree.setVmstat(1500, 40, 80);
  tree.setCounters(5000, 100, 1, 0);
  tree.setInterfaces({{"lo", 100, 1, 100, 1}, {"eth0", 3000, 30, 1500, 15}});
  collectAfter(2);
  for (size_t i = 0; i < counters.size(); ++i) EXPECT_NEAR(read(counters[i]), figures[i].value, 1e-9) << i;
  expectInvalid(late);
  tree.setCounters(5300, 100, 1, 0);
  collectAfter(3);
  EXPECT_EQ(read(late), 100);
}

TEST_F(PdhTest, AddFailsWithPdhStatusesAndBadHandlesAreRefused) {
  open();
  HCOUNTER counter = nullptr;
  struct {
    const wchar_t* path;
    PDH_STATUS status;
  } cases[] = {
      {L"\\Nothing\\Count", PDH_CSTATUS_NO_OBJECT},
      {L"\\Processor(_Total)\\Nothing", PDH_CSTATUS_NO_COUNTER},
      {L"Processor(_Total)\\% Processor Time", PDH_CSTATUS_BAD_COUNTERNAME},
      {L"\\Processor(_Total\\% Processor Time", PDH_CSTATUS_BAD_COUNTERNAME},
      {L"\\Processor(*)\\% Processor Time", PDH_CSTATUS_BAD_COUNTERNAME},
      {L"\\Processor\\% Processor Time", PDH_CSTATUS_BAD_COUNTERNAME},
      {L"\\\\no-such-machine.invalid\\Memory\\Available Bytes", PDH_CSTATUS_NO_MACHINE},
  };
  for (const auto& c : cases) EXPECT_EQ(PdhAddCounterW(query, c.path, 0, &counter), c.status);
  // Names are compared without regard to case, as PDH does.
  EXPECT_EQ(PdhAddCounterW(query, L"\\memory\\AVAILABLE BYTES", 0, &counter), ERROR_SUCCESS);
  EXPECT_EQ(PdhAddCounterW(query, L"\\\\localhost\\Memory\\Available Bytes", 0, &counter), ERROR_SUCCESS);

  PDH_FMT_COUNTERVALUE value{};
  EXPECT_EQ(PdhRemoveCounter(counter), ERROR_SUCCESS);
  EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);

  // Closing the query closes its counters.
  HCOUNTER kept = add(L"\\Memory\\Available Bytes");
  EXPECT_EQ(PdhCloseQuery(query), ERROR_SUCCESS);
  EXPECT_EQ(PdhCloseQuery(query), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhRemoveCounter(kept), PDH_INVALID_HANDLE);
  query = nullptr;
}

// A vanished instance reads as absent and its rate starts again when it returns; figures that
// go backwards (a device reset or a wrap) are invalid data, not huge values.
TEST_F(PdhTest, VanishedInstancesAndFiguresThatGoBackwardsAreInvalidData) {
  tree.setDisks({{"sda", 1000, 0, 500}, {"sdb", 100}});
  tree.setCpus({{100, 0, 50, 1000}});
  open();
  HCOUNTER reads = add(L"\\PhysicalDisk(sda)\\Disk Reads/sec");
  HCOUNTER average = add(L"\\PhysicalDisk(sda)\\Avg. Disk sec/Read");
  HCOUNTER busy = add(L"\\Processor(0)\\% Processor Time");
  HCOUNTER sdb = add(L"\\PhysicalDisk(sdb)\\Disk Reads/sec");
  HCOUNTER missing = add(L"\\PhysicalDisk(sdz)\\Disk Reads/sec");  // added although absent, as PDH does
  collectAfter(1);
  tree.setDisks({{"sda", 10, 0, 5}});
  tree.setCpus({{90, 0, 50, 1100}});
  collectAfter(1);
  for (HCOUNTER c : {reads, average, busy}) expectInvalid(c);
  for (HCOUNTER c : {sdb, missing}) expectInvalid(c, PDH_CSTATUS_NO_INSTANCE);

  tree.setDisks({{"sda", 20, 0, 25}, {"sdb", 500}});
  tree.setCpus({{100, 0, 50, 1110}});
  collectAfter(1);
  EXPECT_EQ(read(reads), 10);
  EXPECT_NEAR(read(average), 0.002, 1e-12);
  EXPECT_EQ(read(busy), 50);
  expectInvalid(sdb);
  tree.setDisks({{"sda", 20, 0, 25}, {"sdb", 540}});
  collectAfter(4);
  EXPECT_EQ(read(sdb), 10);
}

// A rate is a rate of the same members in both samples: a disk line missing from one reading,
// a processor offline in one, or an instance name that came to stand for another device give
// invalid data for that collection, never what a member did since boot. Stacked devices (device
// mapper, software RAID) are no members of the disk total.
TEST_F(PdhTest, RatesNeedTheSameMembersInBothSamples) {
  tree.setDisks({{"sda", 1000}, {"sdb", 5000}, {"dm-0", 900}, {"md0", 900}});
  tree.setCpus({{100, 0, 0, 100}, {100, 0, 0, 100}, {100, 0, 0, 100}});
  open();
  HCOUNTER disks = add(L"\\PhysicalDisk(_Total)\\Disk Reads/sec");
  HCOUNTER sda = add(L"\\PhysicalDisk(sda)\\Disk Reads/sec");
  HCOUNTER cpus = add(L"\\Processor(_Total)\\% Processor Time");
  HCOUNTER second = add(L"\\Processor(1)\\% Processor Time");
  collectAfter(1);
  // sdb's line is cut off in this reading.
  tree.setDisks({{"sda", 1010}, {"dm-0", 910}, {"md0", 910}});
  collectAfter(1);
  for (HCOUNTER c : {disks}) expectInvalid(c);
  EXPECT_EQ(read(sda), 10);
  tree.setDisks({{"sda", 1020}, {"sdb", 5010}, {"dm-0", 920}, {"md0", 920}});
  collectAfter(1);
  expectInvalid(disks);  // sdb is back with everything since boot
  tree.setDisks({{"sda", 1030}, {"sdb", 5020}, {"dm-0", 930}, {"md0", 930}});
  collectAfter(1);
  EXPECT_EQ(read(disks), 20);  // sda and sdb once each; dm-0 and md0 count their I/O again

  // cpu1 goes offline: its line is gone and "1" now names cpu2.
  tree.writeFile("stat",
                 "cpu  0 0 0 0\ncpu0 150 0 0 150\ncpu2 150 0 0 150\nbtime 1700000000\nprocs_running 1\n");
  collectAfter(1);
  expectInvalid(cpus);
  expectInvalid(second);
  // cpu1 is back with ticks mostly busy since boot.
  tree.setCpus({{200, 0, 0, 200}, {9000, 0, 0, 1000}, {200, 0, 0, 200}});
  collectAfter(1);
  expectInvalid(cpus);
  expectInvalid(second);
  tree.setCpus({{300, 0, 0, 300}, {9100, 0, 0, 1100}, {300, 0, 0, 300}});
  collectAfter(1);
  EXPECT_EQ(read(cpus), 50);
  EXPECT_EQ(read(second), 50);
}

// A missing source or a garbled line costs only its own counters. (A FIFO in place of a source is
// refused by the bounded reader that utmp shares: see the sessions test.)
TEST_F(PdhTest, AMissingSourceOrAGarbledLineNeverShiftsFiguresOntoOtherCounters) {
  tree.setCpus({{100, 0, 50, 1000}, {200, 0, 20, 900}});
  tree.removeFile("vmstat");
  open();
  HCOUNTER first = add(L"\\Processor(0)\\% Processor Time");
  HCOUNTER faults = add(L"\\Memory\\Page Faults/sec");
  collectAfter(1);
  // cpu0's line is garbled: cpu1's figures must not be read as processor 0's.
  tree.writeFile("stat",
                 "cpu  400 0 90 2000 0 0 0 0 0 0\ncpu0 garbled\ncpu1 300 0 40 1000 0 0 0 0 0 0\n"
                 "btime 1700000000\nprocs_running 1\n");
  collectAfter(1);
  expectInvalid(first);
  expectInvalid(faults);
}

std::vector<std::wstring> splitMulti(const wchar_t* block, size_t chars) {
  std::vector<std::wstring> items;
  for (size_t i = 0; i < chars && block[i];) {
    std::wstring item(block + i);
    i += item.size() + 1;
    items.push_back(item);
  }
  return items;
}

// The first call of the size protocol: the sizes both lists need.
PDH_STATUS sizes(const wchar_t* object, DWORD& counterSize, DWORD& instanceSize) {
  counterSize = instanceSize = 0;
  return PdhEnumObjectItemsW(nullptr, nullptr, object, nullptr, &counterSize, nullptr, &instanceSize,
                             PERF_DETAIL_WIZARD, 0);
}

// Both lists of an object through the size protocol: a call for the sizes, then one with room.
PDH_STATUS enumerate(const wchar_t* object, std::vector<std::wstring>* counters, std::vector<std::wstring>* instances) {
  DWORD counterSize = 0, instanceSize = 0;
  PDH_STATUS s = sizes(object, counterSize, instanceSize);
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

// Names by index, local ones and the English ones an incomplete local list falls back to, are
// checked through the second-language paths of the metrics tests.
TEST_F(PdhTest, NamesByIndexRefuseBadArgumentsAndTheRegistryRootsEnglishListIsServed) {
  DWORD size = 0;
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 99999, nullptr, &size), PDH_INVALID_ARGUMENT);
  wchar_t small[3];
  size = 3;
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, &size), PDH_MORE_DATA);
  EXPECT_EQ(size, 7u);  // "Memory" and its NUL
  EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, 4, small, nullptr), PDH_INVALID_ARGUMENT);

  // A list of the registry root's own is served instead of the built-in one, under any spelling
  // of its key. The room given would not hold the built-in list.
  writeFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/009/Counter",
            "multi_sz:\n2\nSystem\n4\nMemory\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\microsoft\\Windows NT\\CurrentVersion\\PERFLIB\\009", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  wchar_t data[64] = {};
  DWORD type = 0;
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, L"Counter", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(splitMulti(data, size / sizeof(wchar_t)), (std::vector<std::wstring>{L"2", L"System", L"4", L"Memory"}));
}

TEST_F(PdhTest, EnumerationFollowsTheCurrentInstanceListInTheLocalLanguage) {
  std::vector<std::wstring> counters, instances;
  tree.setDisks({{"sda"}, {"sda1"}, {"loop0"}});
  // A disk appears: the old sizes are short now.
  DWORD counterSize = 0, instanceSize = 0;
  ASSERT_EQ(sizes(L"PhysicalDisk", counterSize, instanceSize), PDH_MORE_DATA);
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

// The name lists are kept between lookups, but a list written, rewritten, rewritten in place or
// removed is what the next lookup sees.
TEST_F(PdhTest, ALookupSeesTheNameListAsItIsNow) {
  auto name = [](DWORD index) {
    wchar_t buffer[64] = {};
    DWORD size = 64;
    EXPECT_EQ(PdhLookupPerfNameByIndexW(nullptr, index, buffer, &size), ERROR_SUCCESS);
    return std::wstring(buffer);
  };
  EXPECT_EQ(name(238), L"Processor");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\CurrentLanguage",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto set = [&](std::wstring_view list) {
    ASSERT_EQ(RegSetValueExW(key, L"Counter", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                             static_cast<DWORD>(list.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  };
  EXPECT_EQ(name(238), L"Processor");  // a key without the value: still the English list
  set(std::wstring_view(L"238\0Prozessor\0\0", 15));
  EXPECT_EQ(name(238), L"Prozessor");
  set(std::wstring_view(L"238\0CPU\0\0", 9));
  EXPECT_EQ(name(238), L"CPU");
  writeFile("HKLM/Software/Microsoft/Windows NT/CurrentVersion/Perflib/CurrentLanguage/Counter",
            "multi_sz:\n238\nProcesseur\n");
  EXPECT_EQ(name(238), L"Processeur");
  ASSERT_EQ(RegDeleteValueW(key, L"Counter"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(name(238), L"Processor");
}

// Interfaces whose names PDH's replacements would make one stay two instances, and an explicit
// instance names exactly one of them.
TEST_F(PdhTest, DistinctDevicesHaveDistinctInstanceNames) {
  EXPECT_EQ(winapi_linux::perf::deviceInstanceNames({"e(0)", "e[0]", "lo", "e#0", "e/0", "E[0]", "e_0"}),
            (std::vector<std::wstring>{L"e[0] 2", L"e[0]", L"lo", L"e_0 2", L"e_0 3", L"E[0]", L"e_0"}));
  tree.setInterfaces({{"e(0)", 100}, {"e[0]", 400000000}});
  open();
  HCOUNTER plain = add(L"\\Network Interface(e[0])\\Bytes Received/sec");
  HCOUNTER replaced = add(L"\\Network Interface(e[0] 2)\\Bytes Received/sec");
  collectAfter(1);
  tree.setInterfaces({{"e(0)", 200}, {"e[0]", 800000000}});
  collectAfter(1);
  EXPECT_EQ(read(plain), 400000000);
  EXPECT_EQ(read(replaced), 100);
  // e[0] goes: e(0) would take its name, but a rate across two devices is none.
  tree.setInterfaces({{"e(0)", 300}});
  collectAfter(1);
  expectInvalid(plain);
  std::vector<std::wstring> counters, instances;
  tree.setInterfaces({{"e(0)"}, {"e[0]"}});
  ASSERT_EQ(enumerate(L"Network Interface", &counters, &instances), ERROR_SUCCESS);
  EXPECT_EQ(instances, (std::vector<std::wstring>{L"e[0] 2", L"e[0]"}));
}

}  // namespace
