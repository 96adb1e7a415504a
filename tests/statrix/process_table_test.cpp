// Process table walk: record reuse, pid reuse, per-process shares, session sums and purging,
// over synthetic snapshots in the system's layout.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "process/process_table.h"
#include "statrix/process_snapshot_builder.h"

// Counts heap allocations so that the steady walk can be checked to allocate nothing.
namespace {
std::atomic<size_t> allocations{0};
}  // namespace

// The replacements stay out of line: inlined, malloc() and free() would look mismatched with
// new and delete to the compiler's allocation checks.
[[gnu::noinline]] void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

constexpr uint64_t kGiB = 1ull << 30;

FakeProcess proc(uint64_t pid, int64_t cpuTime, uint32_t session = 1, int64_t createTime = 1000) {
  FakeProcess p;
  p.pid = pid;
  p.createTime = createTime;
  p.userTime = cpuTime / 2;
  p.kernelTime = cpuTime - cpuTime / 2;
  p.sessionId = session;
  return p;
}

class ProcessTableTest : public ::testing::Test {
 protected:
  // One pass: walk with the given interval and memory, then purge.
  void pass(const std::vector<FakeProcess>& processes, int64_t systemDelta, uint64_t totalPhys = 8 * kGiB) {
    ++stamp;
    const ProcessSnapshot snapshot = buildSnapshot(processes);
    table.updateProcesses(snapshot, WalkInputs{stamp, systemDelta, totalPhys, 0, 0}, nameList, sessions);
    table.purgeProcesses(stamp);
  }
  const ProcessRecord& record(uint32_t pid) {
    const ProcessRecord* r = table.find(pid);
    EXPECT_NE(r, nullptr) << "pid " << pid;
    static const ProcessRecord none;
    return r ? *r : none;
  }

  ProcessTable table;
  SessionSums sessions;
  CORE::corestring nameList{L"*"};
  uint32_t stamp = 100;
};

TEST_F(ProcessTableTest, NewProcessHasNoCpuShareUntilItsSecondPass) {
  FakeProcess p = proc(42, 5000);
  p.workingSetPrivate = static_cast<int64_t>(2 * kGiB);
  pass({p}, 10000);
  EXPECT_TRUE(record(42).isNew);
  EXPECT_EQ(record(42).cpuPercent, 0.0f);
  EXPECT_EQ(record(42).memPercent, 25.0f);  // memory share is valid at once
  EXPECT_EQ(record(42).lastSeen, stamp);

  p.userTime += 2500;  // a quarter of all processors' time over the interval
  pass({p}, 10000);
  EXPECT_FALSE(record(42).isNew);
  EXPECT_EQ(record(42).cpuPercent, 25.0f);
}

TEST_F(ProcessTableTest, ReusedPidIsToldApartByCreationTime) {
  pass({proc(7, 1000, 1, /*createTime=*/111)}, 10000);
  // Another process under the same pid, with more CPU time than the old record holds: none of
  // it may count as this pass's share.
  pass({proc(7, 9000, 1, /*createTime=*/222)}, 10000);
  EXPECT_TRUE(record(7).isNew);
  EXPECT_EQ(record(7).cpuPercent, 0.0f);
  EXPECT_EQ(record(7).createTime, 222);

  pass({proc(7, 10000, 1, 222)}, 10000);
  EXPECT_EQ(record(7).cpuPercent, 10.0f);  // measured from the new instance's own time
}

TEST_F(ProcessTableTest, IdleProcessGetsNoRecordAndNoSessionSum) {
  pass({proc(0, 50000, 3), proc(9, 100, 1)}, 10000);
  pass({proc(0, 90000, 3), proc(9, 200, 1)}, 10000);
  EXPECT_EQ(table.find(0), nullptr);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(sessions.find(3), nullptr);
}

TEST_F(ProcessTableTest, CpuShareEdges) {
  pass({proc(1, 1000), proc(2, 5000), proc(3, 1000)}, 10000);
  // pid 1 grew by more than the whole interval (its time and the system's are read apart):
  // capped at exactly 100. pid 2 went backwards: no share. pid 3 grew normally.
  pass({proc(1, 1000 + 25000), proc(2, 4000), proc(3, 1000 + 3333)}, 10000);
  EXPECT_EQ(record(1).cpuPercent, 100.0f);
  EXPECT_EQ(record(2).cpuPercent, 0.0f);
  EXPECT_EQ(record(3).cpuPercent, static_cast<float>(3333 * 100.0 / 10000));

  // No interval (a failed processor query): every share is 0, but the CPU time moves on, so the
  // pass after it measures only its own interval.
  pass({proc(1, 40000), proc(2, 4000), proc(3, 6000)}, 0);
  EXPECT_EQ(record(1).cpuPercent, 0.0f);
  EXPECT_EQ(record(1).cpuTime, 40000);
  pass({proc(1, 41000), proc(2, 4000), proc(3, 6000)}, 10000);
  EXPECT_EQ(record(1).cpuPercent, 10.0f);
}

TEST_F(ProcessTableTest, MemoryShareNeedsPhysicalMemoryTotal) {
  FakeProcess p = proc(5, 0);
  p.workingSetPrivate = static_cast<int64_t>(kGiB);
  pass({p}, 10000, /*totalPhys=*/0);
  EXPECT_EQ(record(5).memPercent, 0.0f);
  pass({p}, 10000, 3 * kGiB);
  EXPECT_EQ(record(5).memPercent, static_cast<float>(100.0 / 3));
}

TEST_F(ProcessTableTest, SessionSumsLeaveOutSessionZeroAndFollowTheLastWalk) {
  auto withBytes = [](FakeProcess p, uint64_t bytes) {
    p.privatePageCount = bytes;
    return p;
  };
  const uint64_t big = 6 * kGiB;  // beyond 32 bits: summed at full width
  pass({withBytes(proc(10, 0, 2), big), withBytes(proc(11, 0, 1), 100), withBytes(proc(12, 0, 0), 7),
        withBytes(proc(13, 0, 2), 1)},
       10000);
  pass({withBytes(proc(10, 1000, 2), big), withBytes(proc(11, 500, 1), 100), withBytes(proc(12, 9000, 0), 7),
        withBytes(proc(13, 250, 2), 1)},
       10000);

  ASSERT_EQ(sessions.sessions().size(), 2u);
  const SessionFigures& one = sessions.sessions()[0];
  const SessionFigures& two = sessions.sessions()[1];
  EXPECT_EQ(one.sessionId, 1u);
  EXPECT_EQ(one.cpuTime, 500);
  EXPECT_EQ(one.privateBytes, 100);
  EXPECT_EQ(two.sessionId, 2u);
  EXPECT_EQ(two.cpuTime, 1250);
  EXPECT_EQ(two.privateBytes, static_cast<int64_t>(big + 1));
  EXPECT_EQ(sessions.find(0), nullptr);

  // Session 1's process exits: the session is gone from the next walk's sums.
  pass({withBytes(proc(10, 1000, 2), big)}, 10000);
  ASSERT_EQ(sessions.sessions().size(), 1u);
  EXPECT_EQ(sessions.sessions()[0].sessionId, 2u);
  EXPECT_EQ(sessions.sessions()[0].cpuTime, 0);
}

TEST_F(ProcessTableTest, PurgeDropsEveryRecordThePassDidNotSee) {
  pass({proc(1, 0), proc(2, 0), proc(3, 0)}, 10000);
  pass({proc(3, 0), proc(1, 0)}, 10000);  // any order
  EXPECT_NE(table.find(1), nullptr);
  EXPECT_EQ(table.find(2), nullptr);
  EXPECT_NE(table.find(3), nullptr);
  // One process exits as another starts: the table size stays, the purge must still run.
  pass({proc(1, 0), proc(4, 0)}, 10000);
  EXPECT_EQ(table.find(3), nullptr);
  EXPECT_NE(table.find(4), nullptr);
  EXPECT_EQ(table.size(), 2u);
  table.resetProcesses();
  EXPECT_EQ(table.size(), 0u);
}

TEST_F(ProcessTableTest, SteadyWalkAllocatesNothing) {
  std::vector<FakeProcess> processes;
  for (uint64_t pid = 4; pid < 2000; pid += 4) processes.push_back(proc(pid, 0, static_cast<uint32_t>(pid % 5)));
  const ProcessSnapshot snapshot = buildSnapshot(processes);
  table.updateProcesses(snapshot, WalkInputs{1, 10000, 8 * kGiB, 0, 0}, nameList, sessions);

  const size_t before = allocations.load();
  table.updateProcesses(snapshot, WalkInputs{2, 10000, 8 * kGiB, 0, 0}, nameList, sessions);
  table.purgeProcesses(2);
  EXPECT_EQ(allocations.load() - before, 0u);
  EXPECT_EQ(table.size(), processes.size());
}

TEST(ProcessSnapshotTest, WalkFollowsTheChainAndNeverLeavesTheBuffer) {
  FakeProcess named = proc(77, 0);
  named.name = L"svc host.exe";
  SnapshotBytes bytes = buildSnapshotBytes({proc(1, 0), named, proc(3, 0)});
  {
    const ProcessEntryView second(bytes.data.get() + bytes.offsets[1]);
    EXPECT_EQ(second.uniqueProcessId(), 77u);
    EXPECT_EQ(std::wstring(second.imageNameBuffer(), second.imageNameChars()), L"svc host.exe");
  }
  // The second entry's link points past the end of the buffer: the walk ends there.
  const uint32_t beyond = static_cast<uint32_t>(bytes.size);
  std::memcpy(bytes.data.get() + bytes.offsets[1], &beyond, sizeof(beyond));
  const ProcessSnapshot snapshot = bytes.take();
  std::vector<uint64_t> seen;
  for (const ProcessEntryView entry : snapshot) seen.push_back(entry.uniqueProcessId());
  EXPECT_EQ(seen, (std::vector<uint64_t>{1, 77}));

  // A buffer too short for one entry holds none.
  SnapshotBytes tiny = buildSnapshotBytes({proc(1, 0)});
  EXPECT_EQ(ProcessSnapshot(std::move(tiny.data), ProcessEntryView::kMinimumSize - 1).begin(),
            ProcessSnapshot().end());
}

}  // namespace
