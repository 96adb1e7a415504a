// Consumer lists over a walked table: order, ties, the slot cap and the "Missing CPU use" analysis;
// session figures from an empty whole.
#include <gtest/gtest.h>

#include <string>

#include "process/consumer_list.h"
#include "process/session_metrics.h"
#include "statrix/cpumem_watch_env.h"
#include "statrix/process_snapshot_builder.h"

namespace {

using watch_test::Event;

// Process ids no system hands out, so every owner reads "SYSTEM" without touching real processes.
constexpr uint64_t kFirstPid = 0x7FFF0001;
constexpr int64_t kInterval = 10000;  // systemDelta of every pass: 1 unit of CPU time = 0.01 %

FakeProcess proc(uint64_t n, int64_t cpuTime, int64_t createTime = 1) {
  FakeProcess p;
  p.pid = kFirstPid + n;
  p.createTime = createTime;
  p.userTime = cpuTime;
  p.workingSetPrivate = 0;
  p.name = L"p" + std::to_wstring(n) + L".exe";
  return p;
}

class ConsumerListTest : public ::testing::Test {
 protected:
  // Walks `before` and then `after`, so that each process of `after` already seen has the share
  // of its CPU time growth; the snapshot of the second walk stays for the list.
  void walk(const std::vector<FakeProcess>& before, const std::vector<FakeProcess>& after) {
    SessionSums sums;
    const ProcessSnapshot first = buildSnapshot(before);
    table_.updateProcesses(first, WalkInputs{1, kInterval, 1000, 0, 0}, L"", sums);
    snapshot_ = buildSnapshot(after);
    table_.updateProcesses(snapshot_, WalkInputs{2, kInterval, 1000, 0, 0}, L"", sums);
    table_.purgeProcesses(2);
  }
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
  // The bag of the one broadcast since the last clear, which must be a list.
  CORE::PropertyBag listBag() const {
    const auto all = recorder_.broadcasts();
    EXPECT_EQ(all.size(), 1u);
    if (all.empty()) return {};
    EXPECT_EQ(all.back().text, L"PROCESS-LIST");
    return all.back().bag;
  }

  ProcessTable table_;
  ProcessSnapshot snapshot_;
  watch_test::Recorder recorder_;
};

TEST_F(ConsumerListTest, DescendingWithTiesInSnapshotOrderAndZeroRoundedSharesLeftOut) {
  // Shares: p1 20 %, p2 40 %, p3 40 %, p4 0.3 % (rounds to 0), p5 20 %.
  walk({proc(1, 0), proc(2, 0), proc(3, 0), proc(4, 0), proc(5, 0)},
       {proc(1, 2000), proc(2, 4000), proc(3, 4000), proc(4, 30), proc(5, 2000)});
  listConsumers(ProcessKind::Cpu, &snapshot_, table_, 80.3f, 3);
  // p5 equals the last slot (p1) and does not displace it.
  EXPECT_EQ(listed(), (std::vector<std::wstring>{L"p2", L"p3", L"p1"}));
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing CPU use"), 0u);  // 80.3 - 120 is no gap

  EXPECT_EQ(listBag().getBag(L"2").get(L"PROCESSNAME").str(), L"p1");
}

TEST_F(ConsumerListTest, ACpuGapUnderTenPointsIsNotAnalysedAndWithoutNewProcessesWentToAnExitedOne) {
  walk({proc(1, 0)}, {proc(1, 1000)});  // 10 %
  listConsumers(ProcessKind::Cpu, &snapshot_, table_, 19.9f, 10);
  listConsumers(ProcessKind::Memory, &snapshot_, table_, 90.0f, 10);  // memory has no gap analysis
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing"), 0u);
  listConsumers(ProcessKind::Cpu, &snapshot_, table_, 25.0f, 10);
  EXPECT_EQ(recorder_.count(Event::Log, L"Missing CPU use: 15.0%; probably consumed by a process that has exited"), 1u);

  recorder_.clear();
  listConsumers(ProcessKind::Cpu, nullptr, table_, 25.0f, 10);
  EXPECT_EQ(recorder_.lines(), std::vector<std::wstring>{
                                   L"Missing CPU use: 25.0%; probably consumed by a process that has exited"});
  EXPECT_EQ(listBag().getInt(L"numConsumers", -1), 0);
}

TEST_F(ConsumerListTest, AtMostAHundredSlotsAndZeroTurnsTheListOff) {
  std::vector<FakeProcess> before, after;
  for (uint64_t n = 1; n <= 150; ++n) {
    before.push_back(proc(n, 0));
    after.push_back(proc(n, static_cast<int64_t>(n)));  // n * 0.01 %, 1..1.5 %
  }
  walk(before, after);
  for (uint32_t setting : {500u, 0xFFFFFFFFu}) {  // also a setting stored from "-1"
    recorder_.clear();
    listConsumers(ProcessKind::Cpu, &snapshot_, table_, 200.0f, setting);
    const auto names = listed();
    ASSERT_EQ(names.size(), 100u) << setting;
    EXPECT_EQ(names.front(), L"p150");
    EXPECT_EQ(names.back(), L"p51");
    EXPECT_EQ(listBag().getInt(L"numConsumers"), 100);
  }
  recorder_.clear();
  listConsumers(ProcessKind::Cpu, &snapshot_, table_, 200.0f, 0);
  EXPECT_TRUE(recorder_.lines(0).empty());
  EXPECT_TRUE(recorder_.broadcasts().empty());
}

TEST(SessionMetrics, NoFigureFromAnEmptyWholeAndHugeSharesSaturate) {
  SessionSums sums;
  sums.add(1, 2500, 1500);
  sums.add(2, 1000, 3000);
  // No processor time passed (D = 0) and no memory total (T = 0): 0, not NaN turned integer.
  CORE::PropertyBag message;
  addSessionCpuMetrics(message, sums, 0);
  addSessionMemMetrics(message, sums, 0);
  ASSERT_EQ(message.size(), 4u);  // cpu of sessions 1 and 2, then their mem
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(message.bagAt(i).getInt64(i < 2 ? L"cpu" : L"mem", -1), 0) << i;
  }
  EXPECT_EQ(truncatedPercent(99, 10000), 0);  // 0.99 % truncates to 0
  EXPECT_EQ(truncatedPercent(INT64_MAX, 1), INT64_MAX);
}

}  // namespace
