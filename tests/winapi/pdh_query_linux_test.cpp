// Tests of PDH queries over fixture trees: values to the unit with known deltas, PDH's status
// codes, instances that vanish, figures that go backwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pdh_test_env.h"

namespace {

using pdh_test::PdhTest;
using statrix_test::FakeCpu;
using statrix_test::FakeDisk;
using statrix_test::FakeInterface;

TEST_F(PdhTest, ProcessorSharesUseEachProcessorsOwnTicksAndAddUpToOneHundred) {
  tree.setCpus({{100, 0, 50, 1000}, {200, 0, 20, 900}});
  open();
  const wchar_t* names[] = {L"% Processor Time", L"% User Time", L"% Privileged Time", L"% Idle Time"};
  HCOUNTER c[3][4];
  const wchar_t* instances[] = {L"0", L"1", L"_Total"};
  for (int i = 0; i < 3; ++i)
    for (int n = 0; n < 4; ++n) c[i][n] = add(std::wstring(L"\\Processor(") + instances[i] + L")\\" + names[n]);
  collectAfter(1);
  expectInvalid(c[0][0]);  // a rate needs two collections

  // cpu0: +40 user (30 user, 10 nice), +15 system, +45 idle (40 idle, 5 iowait) of 100 ticks;
  // cpu1: +10 user, +10 privileged (5 system, 3 irq, 2 softirq), +180 idle of 200 ticks.
  tree.setCpus({{130, 10, 65, 1040, 5}, {210, 0, 25, 1080, 0, 3, 2}});
  collectAfter(3);  // the wall-clock interval plays no part
  const double expected[3][4] = {{55, 40, 15, 45}, {10, 5, 5, 90}, {25, 50.0 / 3, 25.0 / 3, 75}};
  for (int i = 0; i < 3; ++i) {
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(read(c[i][n]), expected[i][n], 1e-9) << i << " " << n;
    EXPECT_NEAR(read(c[i][1]) + read(c[i][2]) + read(c[i][3]), 100, 1e-9);
  }
  // Steal time counts as privileged time.
  tree.setCpus({{130, 10, 65, 1040, 5, 0, 0, 100}, {210, 0, 25, 1080, 0, 3, 2}});
  collectAfter(1);
  EXPECT_NEAR(read(c[0][2]), 100, 1e-9);
  EXPECT_NEAR(read(c[1][0]), 0, 1e-9);  // no tick passed: 0
}

TEST_F(PdhTest, DiskRatesAndAveragesOverWholeDisks) {
  tree.setDisks({{"sda", 1000, 8000, 2000, 500, 4000, 3000, 1, 5000},
                 {"sda1", 900, 7000, 1800, 400, 3000, 2000, 0, 4000},
                 {"nvme0n1", 10, 80, 5, 0, 0, 0, 0, 5},
                 {"nvme0n1p1", 10, 80, 5, 0, 0, 0, 0, 5},
                 {"loop0", 7, 7, 7, 7, 7, 7, 0, 7}});
  open();
  const wchar_t* names[] = {L"Disk Reads/sec",      L"Disk Writes/sec",        L"Disk Transfers/sec",
                            L"Disk Read Bytes/sec", L"Disk Write Bytes/sec",   L"Avg. Disk sec/Read",
                            L"Avg. Disk sec/Write", L"Avg. Disk sec/Transfer", L"% Disk Time",
                            L"% Idle Time",         L"Current Disk Queue Length"};
  const wchar_t* instances[] = {L"sda", L"nvme0n1", L"_Total"};
  HCOUNTER c[3][11];
  for (int i = 0; i < 3; ++i)
    for (int n = 0; n < 11; ++n) c[i][n] = add(std::wstring(L"\\PhysicalDisk(") + instances[i] + L")\\" + names[n]);
  collectAfter(1);
  EXPECT_EQ(read(c[2][10]), 1);  // a queue length needs one collection

  // sda: +100 reads in 500 ms, +50 writes in 1000 ms, 2000 and 400 sectors, busy 1000 of 2000 ms;
  // nvme0n1: +300 reads in 300 ms, no writes. Partitions and loop devices move but do not count.
  tree.setDisks({{"sda", 1100, 10000, 2500, 550, 4400, 4000, 3, 6000},
                 {"sda1", 1900, 9000, 2800, 900, 5000, 9000, 0, 9000},
                 {"nvme0n1", 310, 80, 305, 0, 0, 0, 2, 305},
                 {"nvme0n1p1", 410, 80, 905, 0, 0, 0, 0, 905},
                 {"loop0", 70, 70, 70, 70, 70, 70, 0, 70}});
  collectAfter(2);
  const double expected[3][11] = {
      {50, 25, 75, 512000, 102400, 0.005, 0.02, 0.01, 75, 50, 3},
      {150, 0, 150, 0, 0, 0.001, 0, 0.001, 15, 85, 2},
      {200, 25, 225, 512000, 102400, 0.002, 0.02, 1800.0 / 450 / 1000, 90, 35, 5},
  };
  for (int i = 0; i < 3; ++i)
    for (int n = 0; n < 11; ++n) EXPECT_NEAR(read(c[i][n]), expected[i][n], 1e-9) << i << " " << n;

  // No I/O at all: averages are 0, not a division by zero.
  collectAfter(2);
  EXPECT_EQ(read(c[0][5]), 0);
  EXPECT_EQ(read(c[0][0]), 0);
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
  HCOUNTER available = add(L"\\Memory\\Available Bytes"), committed = add(L"\\Memory\\Committed Bytes");
  HCOUNTER faults = add(L"\\Memory\\Page Faults/sec"), input = add(L"\\Memory\\Pages Input/sec");
  HCOUNTER output = add(L"\\Memory\\Pages Output/sec"), pages = add(L"\\Memory\\Pages/sec");
  HCOUNTER queue = add(L"\\System\\Processor Queue Length"), processes = add(L"\\System\\Processes");
  HCOUNTER threads = add(L"\\System\\Threads"), switches = add(L"\\System\\Context Switches/sec");
  HCOUNTER uptime = add(L"\\System\\System Up Time");
  HCOUNTER received = add(L"\\Network Interface(eth0)\\Bytes Received/sec");
  HCOUNTER sent = add(L"\\Network Interface(eth0)\\Bytes Sent/sec");
  HCOUNTER total = add(L"\\Network Interface(eth0)\\Bytes Total/sec");
  HCOUNTER packets = add(L"\\Network Interface(eth0)\\Packets/sec");
  collectAfter(1);
  EXPECT_EQ(read(available), 6.0 * (1ull << 30));
  EXPECT_EQ(read(committed), 10.0 * (1ull << 30));  // Committed_AS of the fixture: total - available
  EXPECT_EQ(read(queue), 3);                         // 5 runnable on 2 processors
  EXPECT_EQ(read(processes), 3);
  EXPECT_EQ(read(threads), 321);
  EXPECT_NEAR(read(uptime), 12345.67, 1e-9);

  tree.setVmstat(1500, 40, 80);
  tree.setCounters(5000, 100, 1, 0);
  tree.setInterfaces({{"lo", 100, 1, 100, 1}, {"eth0", 3000, 30, 1500, 15}});
  collectAfter(2);
  EXPECT_EQ(read(faults), 250);
  EXPECT_EQ(read(input), 15);
  EXPECT_EQ(read(output), 30);
  EXPECT_EQ(read(pages), 45);
  EXPECT_EQ(read(switches), 2000);
  EXPECT_EQ(read(queue), 0);  // fewer runnable tasks than processors
  EXPECT_EQ(read(received), 1000);
  EXPECT_EQ(read(sent), 500);
  EXPECT_EQ(read(total), 1500);
  EXPECT_EQ(read(packets), 15);
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

  EXPECT_EQ(PdhAddCounterW(nullptr, L"\\Memory\\Available Bytes", 0, &counter), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhAddCounterW(counter, L"\\Memory\\Available Bytes", 0, &counter), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhCollectQueryData(counter), PDH_INVALID_HANDLE);
  PDH_FMT_COUNTERVALUE value{};
  EXPECT_EQ(PdhGetFormattedCounterValue(query, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE | PDH_FMT_LONG, nullptr, &value),
            PDH_INVALID_ARGUMENT);
  EXPECT_EQ(PdhRemoveCounter(counter), ERROR_SUCCESS);
  EXPECT_EQ(PdhRemoveCounter(counter), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);

  // Closing the query closes its counters.
  HCOUNTER kept = add(L"\\Memory\\Available Bytes");
  EXPECT_EQ(PdhCloseQuery(query), ERROR_SUCCESS);
  EXPECT_EQ(PdhCloseQuery(query), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhGetFormattedCounterValue(kept, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);
  EXPECT_EQ(PdhRemoveCounter(kept), PDH_INVALID_HANDLE);
  query = nullptr;

  // A query without counters has nothing to collect.
  open();
  EXPECT_EQ(PdhCollectQueryData(query), PDH_NO_DATA);
}

TEST_F(PdhTest, AVanishedInstanceFailsItsReadAndARateStartsAgainWhenItReturns) {
  tree.setDisks({{"sda", 100}, {"sdb", 100}});
  open();
  HCOUNTER sdb = add(L"\\PhysicalDisk(sdb)\\Disk Reads/sec");
  HCOUNTER queue = add(L"\\PhysicalDisk(sdb)\\Current Disk Queue Length");
  HCOUNTER missing = add(L"\\PhysicalDisk(sdz)\\Disk Reads/sec");  // added although absent, as PDH does
  collectAfter(1);
  tree.setDisks({{"sda", 100}, {"sdb", 300}});
  collectAfter(2);
  EXPECT_EQ(read(sdb), 100);

  expectInvalid(missing, PDH_CSTATUS_NO_INSTANCE);

  tree.setDisks({{"sda", 100}});
  collectAfter(1);
  for (HCOUNTER c : {sdb, queue}) expectInvalid(c, PDH_CSTATUS_NO_INSTANCE);

  tree.setDisks({{"sda", 100}, {"sdb", 500}});
  collectAfter(1);
  expectInvalid(sdb);
  EXPECT_EQ(read(queue), 0);
  tree.setDisks({{"sda", 100}, {"sdb", 540}});
  collectAfter(4);
  EXPECT_EQ(read(sdb), 10);
}

TEST_F(PdhTest, FiguresThatGoBackwardsAreInvalidDataNotHugeValues) {
  tree.setDisks({{"sda", 1000, 0, 500}});
  tree.setCpus({{100, 0, 50, 1000}});
  open();
  HCOUNTER reads = add(L"\\PhysicalDisk(sda)\\Disk Reads/sec");
  HCOUNTER average = add(L"\\PhysicalDisk(sda)\\Avg. Disk sec/Read");
  HCOUNTER busy = add(L"\\Processor(0)\\% Processor Time");
  collectAfter(1);
  tree.setDisks({{"sda", 10, 0, 5}});  // a device reset or a wrap
  tree.setCpus({{90, 0, 50, 1100}});
  collectAfter(1);
  for (HCOUNTER c : {reads, average, busy}) expectInvalid(c);
  tree.setDisks({{"sda", 20, 0, 25}});
  tree.setCpus({{100, 0, 50, 1110}});
  collectAfter(1);
  EXPECT_EQ(read(reads), 10);
  EXPECT_NEAR(read(average), 0.002, 1e-12);
  EXPECT_EQ(read(busy), 50);
}

TEST_F(PdhTest, ACounterAddedLaterNeedsTwoCollectionsOfItsOwn) {
  tree.setCounters(1000, 100, 1, 0);
  open();
  add(L"\\Memory\\Available Bytes");
  collectAfter(1);
  HCOUNTER switches = add(L"\\System\\Context Switches/sec");
  expectInvalid(switches);
  collectAfter(1);
  expectInvalid(switches);
  tree.setCounters(1300, 100, 1, 0);
  collectAfter(3);
  EXPECT_EQ(read(switches), 100);
  // Formats: a long, a 64-bit integer, and × 1000.
  PDH_FMT_COUNTERVALUE value{};
  ASSERT_EQ(PdhGetFormattedCounterValue(switches, PDH_FMT_LARGE | PDH_FMT_1000, nullptr, &value), ERROR_SUCCESS);
  EXPECT_EQ(value.largeValue, 100000);
  ASSERT_EQ(PdhGetFormattedCounterValue(switches, PDH_FMT_LONG, nullptr, &value), ERROR_SUCCESS);
  EXPECT_EQ(value.longValue, 100);
}

TEST_F(PdhTest, DiskTimeIsCappedAtOneHundredUnlessAskedNotTo) {
  tree.setDisks({{"sda", 0, 0, 0, 0, 0, 0, 0, 0}});
  open();
  HCOUNTER time = add(L"\\PhysicalDisk(sda)\\% Disk Time");
  collectAfter(1);
  tree.setDisks({{"sda", 10, 0, 3000, 0, 0, 0, 0, 1000}});  // 3 s of reading in 1 s: queued I/O
  collectAfter(1);
  EXPECT_EQ(read(time), 100);
  EXPECT_EQ(read(time, nullptr, nullptr, PDH_FMT_DOUBLE | PDH_FMT_NOCAP100), 300);
}

TEST_F(PdhTest, ASourceThatIsNoRegularFileGivesNoDataWithoutBlocking) {
  tree.removeFile("diskstats");
  ASSERT_EQ(mkfifo((tree.root() + "/diskstats").c_str(), 0600), 0);  // opening it for reading would block
  tree.removeFile("vmstat");
  open();
  HCOUNTER queue = add(L"\\PhysicalDisk(_Total)\\Current Disk Queue Length");
  HCOUNTER faults = add(L"\\Memory\\Page Faults/sec");
  HCOUNTER available = add(L"\\Memory\\Available Bytes");
  collectAfter(1);
  collectAfter(1);
  for (HCOUNTER c : {queue, faults}) expectInvalid(c);
  EXPECT_EQ(read(available), 8.0 * (1ull << 30));  // the other sources still count
}

TEST_F(PdhTest, QueriesAndCountersAreSafeToUseFromSeveralThreads) {
  tree.setDisks({{"sda", 1}});
  open();
  HCOUNTER shared = add(L"\\PhysicalDisk(sda)\\Current Disk Queue Length");
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  const HQUERY q = query;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&stop, q, shared] {
      while (!stop) {
        PdhCollectQueryData(q);
        PDH_FMT_COUNTERVALUE value{};
        PdhGetFormattedCounterValue(shared, PDH_FMT_DOUBLE, nullptr, &value);
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    HCOUNTER c = nullptr;
    ASSERT_EQ(PdhAddCounterW(query, L"\\Processor(_Total)\\% Idle Time", 0, &c), ERROR_SUCCESS);
    ASSERT_EQ(PdhRemoveCounter(c), ERROR_SUCCESS);
  }
  EXPECT_EQ(PdhCloseQuery(query), ERROR_SUCCESS);  // while the readers go on: they get bad handles
  query = nullptr;
  stop = true;
  for (auto& t : threads) t.join();
  PDH_FMT_COUNTERVALUE value{};
  EXPECT_EQ(PdhGetFormattedCounterValue(shared, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);
}

}  // namespace

TEST_F(PdhTest, AGarbledProcessorLineNeverShiftsFiguresOntoAnotherInstance) {
  tree.setCpus({{100, 0, 50, 1000}, {200, 0, 20, 900}});
  open();
  HCOUNTER first = add(L"\\Processor(0)\\% Processor Time");
  collectAfter(1);
  // cpu0's line is garbled: cpu1's figures must not be read as processor 0's.
  tree.writeFile("stat",
                 "cpu  400 0 90 2000 0 0 0 0 0 0\ncpu0 garbled\ncpu1 300 0 40 1000 0 0 0 0 0 0\n"
                 "btime 1700000000\nprocs_running 1\n");
  collectAfter(1);
  expectInvalid(first);
}
