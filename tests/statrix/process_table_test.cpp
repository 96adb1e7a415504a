// Process table walk over synthetic snapshots: record and pid reuse, shares, session sums, purge.
#include <gtest/gtest.h>

#include "process/process_table.h"
// Counts heap allocations so that the steady walk can be checked to allocate nothing; this
// program's only copy of the replacement operator new and delete.
#include "statrix/allocation_counter.h"
#include "statrix/process_snapshot_builder.h"

namespace {

constexpr uint64_t kGiB = 1ull << 30;

FakeProcess proc(uint64_t pid, int64_t cpuTime, uint32_t session = 1, int64_t createTime = 1000) {
  FakeProcess p;
  p.pid = pid;
  p.createTime = createTime;
  p.userTime = cpuTime / 2;
  p.kernelTime = cpuTime - cpuTime / 2;
  p.sessionId = session;
  p.workingSetPrivate = static_cast<int64_t>(kGiB);
  p.privatePageCount = 6 * kGiB;  // beyond 32 bits: summed at full width
  return p;
}

class ProcessTableTest : public ::testing::Test {
 protected:
  // One pass: the walk with the given interval and memory, then the purge.
  void pass(const std::vector<FakeProcess>& processes, int64_t systemDelta = 10000, uint64_t totalPhys = 4 * kGiB) {
    ++stamp;
    table.updateProcesses(buildSnapshot(processes), WalkInputs{stamp, systemDelta, totalPhys, 0, 0}, L"*", sessions);
    table.purgeProcesses(stamp);
  }
  const ProcessRecord& record(uint32_t pid) {
    static const ProcessRecord none;
    const ProcessRecord* r = table.find(pid);
    EXPECT_NE(r, nullptr) << "pid " << pid;
    return r ? *r : none;
  }

  ProcessTable table;
  SessionSums sessions;
  uint32_t stamp = 100;
};

TEST_F(ProcessTableTest, NewAndReusedPidsStartWithoutCpuShare) {
  pass({proc(42, 5000), proc(7, 1000, 1, 111)});
  EXPECT_TRUE(record(42).isNew);
  EXPECT_EQ(record(42).cpuPercent, 0.0f);
  EXPECT_EQ(record(42).memPercent, 25.0f);  // valid at once

  // pid 7 now belongs to another process with more CPU time than the old one had: none of it
  // is this pass's share.
  pass({proc(42, 7500), proc(7, 9000, 1, 222)});
  EXPECT_FALSE(record(42).isNew);
  EXPECT_EQ(record(42).cpuPercent, 25.0f);
  EXPECT_TRUE(record(7).isNew);
  EXPECT_EQ(record(7).cpuPercent, 0.0f);
  pass({proc(42, 7500), proc(7, 10000, 1, 222)});
  EXPECT_EQ(record(7).cpuPercent, 10.0f);
}

TEST_F(ProcessTableTest, CpuShareEdges) {
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

TEST_F(ProcessTableTest, SessionSumsLeaveOutSessionZeroAndTheIdleProcess) {
  pass({proc(0, 0, 3), proc(10, 0, 2), proc(11, 0, 1), proc(12, 0, 0), proc(13, 0, 2)});
  pass({proc(0, 9000, 3), proc(10, 1000, 2), proc(11, 500, 1), proc(12, 9000, 0), proc(13, 250, 2)});
  EXPECT_EQ(table.find(0), nullptr);
  ASSERT_EQ(sessions.sessions().size(), 2u);
  EXPECT_EQ(sessions.sessions()[0].sessionId, 1u);
  EXPECT_EQ(sessions.sessions()[0].cpuTime, 500);
  EXPECT_EQ(sessions.sessions()[1].sessionId, 2u);
  EXPECT_EQ(sessions.sessions()[1].cpuTime, 1250);
  EXPECT_EQ(sessions.sessions()[1].privateBytes, static_cast<int64_t>(12 * kGiB));

  pass({proc(10, 1000, 2)});  // session 1's process has gone, and so has the session
  ASSERT_EQ(sessions.sessions().size(), 1u);
  EXPECT_EQ(sessions.sessions()[0].sessionId, 2u);
}

TEST_F(ProcessTableTest, PurgeDropsEveryRecordThePassDidNotSee) {
  pass({proc(1, 0), proc(2, 0), proc(3, 0)});
  pass({proc(3, 0), proc(1, 0)});  // any order
  EXPECT_EQ(table.find(2), nullptr);
  // One process exits as another starts: the size stays the same, the purge must still run.
  pass({proc(1, 0), proc(4, 0)});
  EXPECT_EQ(table.find(3), nullptr);
  EXPECT_EQ(table.size(), 2u);
}

TEST_F(ProcessTableTest, SteadyWalkAllocatesNothing) {
  std::vector<FakeProcess> processes;
  for (uint64_t pid = 4; pid < 2000; pid += 4) processes.push_back(proc(pid, 0, static_cast<uint32_t>(pid % 5)));
  const ProcessSnapshot snapshot = buildSnapshot(processes);
  const CORE::corestring nameList(L"*");
  table.updateProcesses(snapshot, WalkInputs{1, 10000, 8 * kGiB, 0, 0}, nameList, sessions);

  const size_t before = allocationCount();
  table.updateProcesses(snapshot, WalkInputs{2, 10000, 8 * kGiB, 0, 0}, nameList, sessions);
  table.purgeProcesses(2);
  EXPECT_EQ(allocationCount() - before, 0u);
}

TEST(ProcessSnapshotTest, WalkNeverLeavesTheBuffer) {
  FakeProcess named = proc(77, 0);
  named.name = L"svc host.exe";
  SnapshotBytes bytes = buildSnapshotBytes({proc(1, 0), named, proc(3, 0)});
  const ProcessEntryView second(bytes.data.get() + bytes.offsets[1]);
  EXPECT_EQ(std::wstring(second.imageNameBuffer(), second.imageNameChars()), L"svc host.exe");

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

TEST_F(ProcessTableTest, SessionSumsSaturateInsteadOfOverflowing) {
  SessionSums sums;
  sums.add(3, INT64_MAX, INT64_MAX);
  sums.add(3, 5, 5);
  ASSERT_NE(sums.find(3), nullptr);
  EXPECT_EQ(sums.find(3)->cpuTime, INT64_MAX);
  EXPECT_EQ(sums.find(3)->privateBytes, INT64_MAX);
}

}  // namespace
