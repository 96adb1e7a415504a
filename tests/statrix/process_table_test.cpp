// The process table walk over synthetic snapshots (record and pid reuse, shares, session sums,
// purge), the consumer lists and session figures built on it, and the processor time sums.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cpumem/processor_times.h"
#include "nt/nt_layout.h"
#include "process/consumer_list.h"
#include "process/counter_growth.h"
#include "process/process_table.h"
#include "process/session_metrics.h"
// Counts heap allocations so that the steady walk can be checked to allocate nothing; this
// program's only copy of the replacement operator new and delete.
#include "statrix/allocation_counter.h"
#include "statrix/cpumem_watch_env.h"
#include "statrix/process_snapshot_builder.h"

namespace {

using watch_test::Event;

constexpr uint64_t kGiB = 1ull << 30;

// A process of 1 GiB working set and 6 GiB of private pages (beyond 32 bits: summed at full width).
FakeProcess proc(uint64_t pid, int64_t cpuTime, uint32_t session = 1, int64_t createTime = 1000) {
  // pid, createTime, userTime, kernelTime, workingSetPrivate, sessionId, privatePageCount
  return {pid, createTime, cpuTime / 2, cpuTime - cpuTime / 2, static_cast<int64_t>(kGiB), session, 6 * kGiB};
}

class ProcessTableTest : public ::testing::Test {
 protected:
  // One pass: the walk with the given interval and memory, then the purge. The snapshot stays
  // for the consumer lists.
  void pass(const std::vector<FakeProcess>& processes, int64_t systemDelta = 10000, uint64_t totalPhys = 4 * kGiB) {
    ++stamp;
    snapshot = buildSnapshot(processes);
    table.updateProcesses(snapshot, WalkInputs{stamp, systemDelta, totalPhys, 0, 0}, L"*", sessions);
    table.purgeProcesses(stamp);
  }
  const ProcessRecord& record(uint32_t pid) {
    static const ProcessRecord none;
    const ProcessRecord* r = table.find(pid);
    EXPECT_NE(r, nullptr) << "pid " << pid;
    return r ? *r : none;
  }

  ProcessTable table;
  ProcessSnapshot snapshot;
  SessionSums sessions;
  uint32_t stamp = 100;
};

TEST_F(ProcessTableTest, CpuShareEdges) {
  // New and reused pids start without a share.
  pass({proc(42, 5000), proc(7, 1000, 1, 111)});
  EXPECT_EQ(record(42).cpuPercent, 0.0f);
  EXPECT_EQ(record(42).memPercent, 25.0f);  // valid at once

  // pid 7 now belongs to another process with more CPU time than the old one had: none of it
  // is this pass's share.
  pass({proc(42, 7500), proc(7, 9000, 1, 222)});
  EXPECT_EQ(record(42).cpuPercent, 25.0f);
  EXPECT_TRUE(record(7).isNew);
  EXPECT_EQ(record(7).cpuPercent, 0.0f);
  pass({proc(42, 7500), proc(7, 10000, 1, 222)});
  EXPECT_EQ(record(7).cpuPercent, 10.0f);

  pass({proc(1, 1000), proc(2, 5000), proc(3, 1000)});
  // pid 1 grew by more than the interval: capped at exactly 100. pid 2 went backwards: 0.
  pass({proc(1, 26000), proc(2, 4000), proc(3, 4333)});
  EXPECT_EQ(record(1).cpuPercent, 100.0f);
  EXPECT_EQ(record(2).cpuPercent, 0.0f);
  EXPECT_EQ(record(3).cpuPercent, static_cast<float>(3333 * 100.0 / 10000));

  // No interval (failed processor query) and no memory total: every share 0, while the CPU
  // time moves on so that the next pass measures only its own interval.
  pass({proc(1, 40000)}, 0, 0);
  EXPECT_EQ(record(1).cpuPercent, 0.0f);
  EXPECT_EQ(record(1).memPercent, 0.0f);
  pass({proc(1, 41000)});
  EXPECT_EQ(record(1).cpuPercent, 10.0f);
}

TEST_F(ProcessTableTest, SessionSumsLeaveOutSessionZeroAndTheIdleProcessAndPurgeDropsTheUnseen) {
  pass({proc(0, 0, 3), proc(10, 0, 2), proc(11, 0, 1), proc(12, 0, 0), proc(13, 0, 2)});
  pass({proc(0, 9000, 3), proc(10, 1000, 2), proc(11, 500, 1), proc(12, 9000, 0), proc(13, 250, 2)});
  EXPECT_EQ(table.find(0), nullptr);
  ASSERT_EQ(sessions.sessions().size(), 2u);
  EXPECT_EQ(sessions.sessions()[0].sessionId, 1u);
  EXPECT_EQ(sessions.sessions()[0].cpuTime, 500);
  EXPECT_EQ(sessions.sessions()[1].sessionId, 2u);
  EXPECT_EQ(sessions.sessions()[1].cpuTime, 1250);
  EXPECT_EQ(sessions.sessions()[1].privateBytes, static_cast<int64_t>(12 * kGiB));

  // Session 1's process has gone, and so has the session. As many processes as before, in any
  // order: the size stays the same, the purge must still run.
  pass({proc(16, 0, 2), proc(10, 1000, 2), proc(14, 0, 2), proc(15, 0, 2)});
  ASSERT_EQ(sessions.sessions().size(), 1u);
  EXPECT_EQ(sessions.sessions()[0].sessionId, 2u);
  EXPECT_EQ(table.find(11), nullptr);
  EXPECT_EQ(table.size(), 4u);
}

TEST_F(ProcessTableTest, SteadyWalkAllocatesNothing) {
  std::vector<FakeProcess> processes;
  for (uint64_t pid = 4; pid < 2000; pid += 4) processes.push_back(proc(pid, 0, static_cast<uint32_t>(pid % 5)));
  pass(processes);
  const CORE::corestring nameList(L"*");
  const size_t before = allocationCount();
  table.updateProcesses(snapshot, WalkInputs{++stamp, 10000, 8 * kGiB, 0, 0}, nameList, sessions);
  table.purgeProcesses(stamp);
  EXPECT_EQ(allocationCount() - before, 0u);
}

TEST(ProcessSnapshotTest, WalkNeverLeavesTheBuffer) {
  SnapshotBytes bytes = buildSnapshotBytes({proc(1, 0), proc(77, 0), proc(3, 0)});
  // The second entry's link points past the end of the buffer: the walk ends there.
  const auto beyond = static_cast<uint32_t>(bytes.size);
  std::memcpy(bytes.data.get() + bytes.offsets[1], &beyond, sizeof(beyond));
  std::vector<uint64_t> seen;
  for (const ProcessEntryView entry : bytes.take()) seen.push_back(entry.uniqueProcessId());
  EXPECT_EQ(seen, (std::vector<uint64_t>{1, 77}));
}

TEST_F(ProcessTableTest, CpuTimesAtTheCounterMaximumNeitherOverflowNorLoseTheShare) {
  // User time stuck at the largest value, kernel time still growing: the sum wraps instead of
  // overflowing, and the growth of the kernel time is the process's share.
  FakeProcess p = proc(5, 0);
  p.userTime = INT64_MAX;
  p.kernelTime = 1000;
  pass({p});
  p.kernelTime = 3500;
  pass({p});
  EXPECT_EQ(record(5).cpuPercent, 25.0f);
  EXPECT_EQ(sessions.sessions()[0].cpuTime, 2500);
}

// Process n of a consumer list, named "pn", using no memory. Its pid is one no system hands out,
// so every owner reads "SYSTEM" without touching real processes. 1 unit of CPU time is 0.01 %.
FakeProcess consumer(uint64_t n, int64_t cpuTime) {
  return {.pid = 0x7FFF0000 + n, .createTime = 1, .userTime = cpuTime, .name = L"p" + std::to_wstring(n) + L".exe"};
}

class ConsumerListTest : public ProcessTableTest {
 protected:
  // The process names of the "High" lines, in order.
  std::vector<std::wstring> listed() const {
    std::vector<std::wstring> names;
    for (const std::wstring& line : recorder_.lines()) {
      if (!line.starts_with(L"High ")) continue;
      const size_t at = line.find(L"name=") + 5;
      names.push_back(line.substr(at, line.find(L',', at) - at));
    }
    return names;
  }

  watch_test::Recorder recorder_;
};

TEST_F(ConsumerListTest, DescendingWithTiesInSnapshotOrderAndZeroRoundedSharesLeftOut) {
  // Shares: p1 20 %, p2 40 %, p3 40 %, p4 0.3 % (rounds to 0), p5 20 %.
  pass({consumer(1, 0), consumer(2, 0), consumer(3, 0), consumer(4, 0), consumer(5, 0)});
  pass({consumer(1, 2000), consumer(2, 4000), consumer(3, 4000), consumer(4, 30), consumer(5, 2000)});
  listConsumers(ProcessKind::Cpu, &snapshot, table, 80.3f, 3);
  // p5 equals the last slot (p1) and does not displace it.
  EXPECT_EQ(listed(), (std::vector<std::wstring>{L"p2", L"p3", L"p1"}));
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing CPU use"), 0u);  // 80.3 - 120 is no gap

  // The broadcast: one bag per slot under its position, every entry a string.
  const auto broadcasts = recorder_.of(Event::Broadcast);
  ASSERT_EQ(broadcasts.size(), 1u);
  EXPECT_EQ(broadcasts[0].text, L"PROCESS-LIST");
  const CORE::PropertyBag& list = broadcasts[0].bag;
  EXPECT_EQ(list.getInt(L"numConsumers", -1), 3);
  EXPECT_EQ(list.get(L"reason").str(), L"CPU");
  const uint32_t pid = 0x7FFF0002;
  const std::pair<std::wstring, std::wstring> expected[] = {
      {L"PROCESSID", std::to_wstring(pid)},
      {L"PROCESSNAME", L"p2"},
      {L"SESSIONID", std::to_wstring(CORE::coreportable::getSessionId(pid))},
      {L"USER", L"SYSTEM"},
      {L"CPU_PERCENTAGE", L"40"}};
  const CORE::PropertyBag first = list.getBag(L"0");
  ASSERT_EQ(first.size(), std::size(expected));
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first.getName(i).str(), expected[i].first);
    EXPECT_EQ(first.typeAt(i), CORE::PropertyBag::Type::String) << expected[i].first;
    EXPECT_EQ(first.stringAt(i).str(), expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(list.getBag(L"2").get(L"PROCESSNAME").str(), L"p1");
}

TEST_F(ConsumerListTest, AFigureForTheLastSlotOfAFullListTakesThatSlot) {
  // Shares in snapshot order, the list's size and the names listed. Each case has pids of its own.
  struct Case {
    uint32_t slots;
    std::vector<int64_t> shares;
    std::vector<std::wstring> listed;
  };
  const Case cases[] = {
      {3, {4000, 3000, 2000, 2500}, {L"p11", L"p12", L"p14"}},
      {1, {1000, 3000}, {L"p22"}},
      {1, {3000, 1000}, {L"p31"}},
  };
  uint64_t base = 10;
  for (const Case& c : cases) {
    std::vector<FakeProcess> before, after;
    for (size_t i = 0; i < c.shares.size(); ++i) {
      before.push_back(consumer(base + i + 1, 0));
      after.push_back(consumer(base + i + 1, c.shares[i]));
    }
    pass(before);
    pass(after);
    recorder_.clear();
    listConsumers(ProcessKind::Cpu, &snapshot, table, 0.0f, c.slots);
    EXPECT_EQ(listed(), c.listed) << c.slots << " slots, first pid " << base + 1;
    base += 10;
  }
}

TEST_F(ConsumerListTest, ACpuGapUnderTenPointsIsNotAnalysedAndWithoutNewProcessesWentToAnExitedOne) {
  pass({consumer(1, 0)});
  pass({consumer(1, 1000)});  // 10 %
  listConsumers(ProcessKind::Cpu, &snapshot, table, 19.9f, 10);
  listConsumers(ProcessKind::Memory, &snapshot, table, 90.0f, 10);  // memory has no gap analysis
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing"), 0u);
  listConsumers(ProcessKind::Cpu, &snapshot, table, 25.0f, 10);
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing CPU use: 15.0%; probably consumed by a process that has exited"), 1u);

  recorder_.clear();
  listConsumers(ProcessKind::Cpu, nullptr, table, 25.0f, 10);
  EXPECT_EQ(recorder_.lines(),
            std::vector<std::wstring>{L"Missing CPU use: 25.0%; probably consumed by a process that has exited"});
  EXPECT_EQ(recorder_.of(Event::Broadcast).at(0).bag.getInt(L"numConsumers", -1), 0);
}

TEST_F(ConsumerListTest, AtMostAHundredSlotsAndZeroTurnsTheListOff) {
  std::vector<FakeProcess> before, after;
  for (uint64_t n = 1; n <= 150; ++n) {
    before.push_back(consumer(n, 0));
    after.push_back(consumer(n, static_cast<int64_t>(n)));  // n * 0.01 %, 1..1.5 %
  }
  pass(before);
  pass(after);
  listConsumers(ProcessKind::Cpu, &snapshot, table, 200.0f, 0xFFFFFFFFu);  // stored from "-1"
  const auto names = listed();
  ASSERT_EQ(names.size(), 100u);
  EXPECT_EQ(names.front(), L"p150");
  EXPECT_EQ(names.back(), L"p51");
  EXPECT_EQ(recorder_.of(Event::Broadcast).at(0).bag.getInt(L"numConsumers"), 100);
  recorder_.clear();
  listConsumers(ProcessKind::Cpu, &snapshot, table, 200.0f, 0);
  EXPECT_TRUE(recorder_.lines(0).empty());
  EXPECT_TRUE(recorder_.of(Event::Broadcast).empty());
}

TEST(SessionMetrics, NoFigureFromAnEmptyWholeAndHugeSumsAndSharesSaturate) {
  SessionSums sums;
  sums.add(1, 2500, 1500);
  sums.add(2, 1000, 3000);
  // No processor time passed (D = 0) and no memory total (T = 0): 0, not NaN turned integer.
  CORE::PropertyBag message;
  addSessionCpuMetrics(message, sums, 0);
  addSessionMemMetrics(message, sums, 0);
  ASSERT_EQ(message.size(), 4u);  // cpu of sessions 1 and 2, then their mem
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(message.bagAt(i).getInt64(i < 2 ? L"cpu" : L"mem", -1), 0) << i;
  EXPECT_EQ(truncatedPercent(INT64_MAX, 1), INT64_MAX);
  sums.add(3, INT64_MAX, INT64_MAX);
  sums.add(3, 5, 5);
  EXPECT_EQ(sums.find(3)->cpuTime, INT64_MAX);
  EXPECT_EQ(sums.find(3)->privateBytes, INT64_MAX);
}

TEST(ProcessorTimesTest, FailedQueriesFailAndCountersCappedAtTheirMaximumStillGiveTheGrowthOfTheOthers) {
  ProcessorTimes sums;
  EXPECT_FALSE(addProcessorTimes([](PVOID, ULONG, PULONG) { return static_cast<LONG>(0xC0000001u); }, sums));
  // Still too small after growing: the second answer is not trusted either.
  int calls = 0;
  EXPECT_FALSE(addProcessorTimes(
      [&](PVOID, ULONG, PULONG returned) {
        ++calls;
        *returned = 100000;
        return nt::kStatusInfoLengthMismatch;
      },
      sums));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sums.total, 0);

  // Processor 0's counters are stuck at the largest value the system reports; processor 1's
  // grow by 300 (100 of it idle) between the two readings. The sums wrap rather than overflow.
  constexpr int64_t kMax = INT64_MAX;
  auto query = [](int64_t grown) {
    return [grown](PVOID buffer, ULONG length, PULONG returned) -> LONG {
      const nt::ProcessorTimesLayout entries[2] = {
          {kMax, kMax, kMax, {}, 0, 0}, {1000 + grown / 3, 5000 + grown / 3 * 2, 2000 + grown / 3, {}, 0, 0}};
      *returned = sizeof entries;
      if (length < sizeof entries) return nt::kStatusInfoLengthMismatch;
      std::memcpy(buffer, entries, sizeof entries);
      return nt::kStatusSuccess;
    };
  };
  ProcessorTimes before, after;
  ASSERT_TRUE(addProcessorTimes(query(0), before));
  ASSERT_TRUE(addProcessorTimes(query(300), after));
  EXPECT_EQ(counterGrowth(after.total, before.total), 300);
  EXPECT_EQ(counterGrowth(after.idle, before.idle), 100);
  EXPECT_EQ(counterGrowth(before.total, after.total), 0);  // a sum that went down
}

}  // namespace
