// Tests of what the process snapshot keeps between passes: kept files, session ids and the
// process instance (pid + start time), with every descriptor budget from none to plenty.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "system_queries.h"

namespace {

using statrix_test::FakeProcess;
using statrix_test::FixtureTree;
using statrix_test::SnapshotEntry;
using statrix_test::snapshotPids;
using statrix_test::takeSnapshot;
using statrix_test::ticksAsNtTime;

const SnapshotEntry* find(const std::vector<SnapshotEntry>& entries, uint64_t pid) {
  auto it = std::find_if(entries.begin(), entries.end(), [&](const SnapshotEntry& e) { return e.pid == pid; });
  return it == entries.end() ? nullptr : &*it;
}

// 0: every file opened on every pass; 5: some kept, the rest opened; plenty: all kept.
class SnapshotCache : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    winapi_linux::setSnapshotDescriptorLimit(GetParam());
    tree.addProcess({100, "init", 10, 20, 1, 4096, 0, 4294967295u});
    tree.addProcess({500, "old", 30, 40, 700, 2048, 0, 2});
    tree.addProcess({900, "other", 1, 1, 800, 1024, 0, 4294967295u});
    tree.activate();
  }
  void TearDown() override { winapi_linux::setSnapshotDescriptorLimit(winapi_linux::kDefaultSnapshotDescriptors); }
  FixtureTree tree;
};

TEST_P(SnapshotCache, AReusedPidIsANewProcessWithItsOwnFigures) {
  auto first = takeSnapshot();
  ASSERT_EQ(snapshotPids(first), (std::vector<uint64_t>{0, 100, 500, 900}));
  EXPECT_EQ(find(first, 500)->session, 2u);
  EXPECT_LE(winapi_linux::snapshotDescriptorsKept(), GetParam());

  tree.removeProcess(500);
  tree.addProcess({500, "new", 3, 4, 9000, 1024, 0, 7});
  auto second = takeSnapshot();
  ASSERT_EQ(snapshotPids(second), (std::vector<uint64_t>{0, 100, 500, 900}));
  const SnapshotEntry* p = find(second, 500);
  EXPECT_EQ(p->name, L"new");
  EXPECT_EQ(p->session, 7u);
  EXPECT_EQ(p->userTime, ticksAsNtTime(3));
  EXPECT_EQ(p->workingSetPrivate, 1024 * 1024);
  EXPECT_EQ(p->createTime, (1700000000LL + 11644473600LL) * 10'000'000 + ticksAsNtTime(9000));
}

TEST_P(SnapshotCache, AProcessThatEndsBetweenTwoPassesIsGoneAndItsFilesClosed) {
  takeSnapshot();
  size_t kept = winapi_linux::snapshotDescriptorsKept();
  tree.removeProcess(500);
  auto entries = takeSnapshot();
  EXPECT_EQ(snapshotPids(entries), (std::vector<uint64_t>{0, 100, 900}));
  EXPECT_LE(winapi_linux::snapshotDescriptorsKept(), kept);
  // Its files changed in place while kept open: the new figures are read.
  tree.addProcess({900, "other", 77, 1, 800, 3072, 0, 4294967295u});
  entries = takeSnapshot();
  EXPECT_EQ(find(entries, 900)->userTime, ticksAsNtTime(77));
  EXPECT_EQ(find(entries, 900)->workingSetPrivate, 3072 * 1024);
}

TEST_P(SnapshotCache, ASessionSetAfterTheProcessWasFirstSeenIsReported) {
  EXPECT_EQ(find(takeSnapshot(), 900)->session, 0u);
  tree.writeFile("900/sessionid", "12");  // a login in the process
  EXPECT_EQ(find(takeSnapshot(), 900)->session, 12u);
  // Once set, a session never changes for the life of the process: it is not read again.
  tree.writeFile("900/sessionid", "13");
  EXPECT_EQ(find(takeSnapshot(), 900)->session, 12u);
}

TEST_P(SnapshotCache, SwappedOutMemoryCountsFromWhenSwapComesIntoUse) {
  tree.addProcess({600, "swapped", 1, 1, 900, 2048, 512, 4294967295u});
  EXPECT_EQ(find(takeSnapshot(), 600)->privateBytes, 2048u * 1024);  // no swap in use: VmSwap is 0
  tree.setMeminfo(16u << 20, 8u << 20, 1u << 20, (1u << 20) - 512);
  auto entries = takeSnapshot();
  EXPECT_EQ(find(entries, 600)->privateBytes, (2048u + 512u) * 1024);
  EXPECT_EQ(find(entries, 600)->workingSetPrivate, 2048 * 1024);
  tree.setMeminfo(16u << 20, 8u << 20, 1u << 20, 1u << 20);  // swapped back in
  tree.addProcess({600, "swapped", 1, 1, 900, 2560, 0, 4294967295u});
  EXPECT_EQ(find(takeSnapshot(), 600)->privateBytes, 2560u * 1024);
}

INSTANTIATE_TEST_SUITE_P(Budgets, SnapshotCache, ::testing::Values(size_t{0}, size_t{5}, size_t{100000}));

TEST(SnapshotCacheBudget, ProcessesBeyondTheBudgetAreReadByOpeningTheirFiles) {
  winapi_linux::setSnapshotDescriptorLimit(7);
  FixtureTree tree;
  tree.addProcesses(40, 1000);
  tree.activate();
  for (int pass = 0; pass < 3; ++pass) {
    auto entries = takeSnapshot();
    ASSERT_EQ(entries.size(), 41u);
    EXPECT_EQ(entries[40].name, L"proc1039");
    EXPECT_EQ(entries[40].userTime, ticksAsNtTime(10 + 39));
    EXPECT_EQ(winapi_linux::snapshotDescriptorsKept(), 7u);
  }
  winapi_linux::setSnapshotDescriptorLimit(winapi_linux::kDefaultSnapshotDescriptors);
}

// Callers on several threads share the kept files; each gets a whole, true snapshot.
TEST(SnapshotCacheThreads, ConcurrentCallersEachGetTheWholeList) {
  FixtureTree tree;
  tree.addProcesses(30, 1000);
  tree.activate();
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int pass = 0; pass < 50; ++pass) {
        auto entries = takeSnapshot();
        if (entries.size() != 31 || entries[30].userTime != ticksAsNtTime(10 + 29)) ++wrong;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// The kernel's procfs: a kept file of a process that has ended answers ESRCH.
TEST(SnapshotCacheMachine, AChildThatEndsBetweenTwoPassesIsLeftOut) {
  ::unsetenv("VARNEL_PROCFS");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  auto first = takeSnapshot();
  ASSERT_NE(find(first, static_cast<uint64_t>(child)), nullptr);
  EXPECT_EQ(find(first, static_cast<uint64_t>(child))->parent, static_cast<uint64_t>(getpid()));
  size_t kept = winapi_linux::snapshotDescriptorsKept();
  EXPECT_GT(kept, 0u);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  auto second = takeSnapshot();
  EXPECT_EQ(find(second, static_cast<uint64_t>(child)), nullptr);
  EXPECT_NE(find(second, static_cast<uint64_t>(getpid())), nullptr);
}

}  // namespace
