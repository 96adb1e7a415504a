// Tests of the process snapshot (class 5): the figures taken from procfs (the entry layout is
// checked by the reader on every walk), the buffer-size protocol, processes that vanish, and what is
// kept between passes (files, session ids, the process instance) under every descriptor budget.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ntdll/system_queries.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

using statrix_test::FakeProcess;
using statrix_test::FixtureTree;
using statrix_test::SnapshotEntry;
using statrix_test::snapshotPids;
using statrix_test::takeSnapshot;
using statrix_test::ticksAsNtTime;

constexpr int64_t kUnixEpoch = 11644473600LL * 10'000'000;  // 1970 in 100 ns units since 1601

const SnapshotEntry* find(const std::vector<SnapshotEntry>& entries, uint64_t pid) {
  auto it = std::find_if(entries.begin(), entries.end(), [&](const SnapshotEntry& e) { return e.pid == pid; });
  return it == entries.end() ? nullptr : &*it;
}

class ProcessSnapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.setBootTime(1700000000);
    tree.setCpus({{1, 0, 2, 500, 20}, {1, 0, 2, 700, 30}});
    tree.setMeminfo(16u << 20, 8u << 20, 1u << 20, 1u << 19);  // swap in use: VmSwap counts
    tree.addProcess({4242, "a) (b", 300, 40, 5000, 2048, 512, 2, 1000});
    tree.addProcess({100, "init", 10, 20, 1, 4096, 0, 4294967295u, 0});
    tree.addProcess({300, "%n%s", 1, 1, 99, 0, 0, 3, 1000});
    tree.activate();
  }
  FixtureTree tree;
};

TEST_F(ProcessSnapshot, IdleFirstThenEveryProcessByPidWithItsProcfsFigures) {
  auto e = takeSnapshot();
  ASSERT_EQ(snapshotPids(e), (std::vector<uint64_t>{0, 100, 300, 4242}));
  EXPECT_EQ(std::vector<std::wstring>({e[0].name, e[1].name, e[2].name, e[3].name}),
            std::vector<std::wstring>({L"Idle", L"init", L"%n%s", L"a) (b"}));
  EXPECT_EQ(e[0].threads, 2u);                                     // one per processor
  EXPECT_EQ(e[0].kernelTime, ticksAsNtTime(500 + 20 + 700 + 30));  // and their idle time

  const SnapshotEntry& p = e[3];
  EXPECT_EQ(std::vector<int64_t>({p.createTime, p.userTime, p.kernelTime, p.workingSetPrivate}),
            std::vector<int64_t>({kUnixEpoch + 1700000000LL * 10'000'000 + ticksAsNtTime(5000), ticksAsNtTime(300),
                                  ticksAsNtTime(40), 2048 * 1024}));
  EXPECT_EQ(std::vector<uint64_t>({p.privateBytes, p.workingSet, p.session, p.parent, p.threads}),
            std::vector<uint64_t>({(2048u + 512u) * 1024, 2048u * 1024, 2, 1, 1}));
  EXPECT_EQ(e[1].session, 0u);  // 4294967295: never set, a system process
  EXPECT_EQ(e[2].session, 3u);
}

TEST_F(ProcessSnapshot, TheSizeAskedForAlwaysSuffices) {
  ULONG needed = 0;
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, nullptr, 0, &needed), STATUS_INFO_LENGTH_MISMATCH);
  std::vector<unsigned char> buf(needed);
  ULONG used = 0;
  ASSERT_EQ(NtQuerySystemInformation(SystemProcessInformation, buf.data(), needed, &used), STATUS_SUCCESS);
  // Room for two entries only: the answer is larger than that and enough.
  uint32_t first = 0, second = 0;
  std::memcpy(&first, buf.data(), 4);
  std::memcpy(&second, buf.data() + first, 4);
  const ULONG tooSmall = first + second;
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, buf.data(), tooSmall, &needed),
            STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_GT(needed, tooSmall);
  ASSERT_LE(needed, buf.size());
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, buf.data(), needed, &used), STATUS_SUCCESS);

  tree.addProcesses(600, 10000);
  EXPECT_EQ(takeSnapshot().size(), 604u);
}

// The list of process ids is what the snapshot lists, without reading any process's files;
// a buffer too small is filled and comes back full, as callers use to ask again.
TEST_F(ProcessSnapshot, ProcessIdsAreTheSnapshotsPidsAndASmallBufferComesBackFull) {
  DWORD ids[16] = {};
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcesses(ids, sizeof ids, &bytes));
  EXPECT_EQ(std::vector<uint64_t>(ids, ids + bytes / sizeof(DWORD)), snapshotPids(takeSnapshot()));

  ASSERT_TRUE(EnumProcesses(ids, 2 * sizeof(DWORD), &bytes));
  EXPECT_EQ(bytes, 2 * sizeof(DWORD));
  EXPECT_EQ(std::vector<DWORD>(ids, ids + 2), (std::vector<DWORD>{0, 100}));
  EXPECT_FALSE(EnumProcesses(nullptr, 4, &bytes));
  EXPECT_FALSE(EnumProcesses(ids, sizeof ids, nullptr));
}

TEST_F(ProcessSnapshot, VanishedProcessesAreLeftOutAndOddOnesListed) {
  tree.addProcesses(4, 500);
  tree.writeFile("500/stat", "");  // exited between listing and reading
  tree.removeFile("501/status");   // status costs only the swapped-out memory
  tree.writeFile("502/status", "Uid:\tx\n");
  tree.removeFile("503/sessionid");  // no audit support: listed, session 0
  tree.writeFile("600/.keep", "");   // a directory without files
  tree.writeFile("self/stat", FixtureTree::statText({1, "self"}));
  tree.writeFile("77", "not a directory");
  FakeProcess kthread{2, "kworker/u8:3-events_unbound", 0, 7, 3};
  kthread.kernelThread = true;
  tree.addProcess(kthread);
  tree.addProcess({7, std::string(100, 'x')});
  tree.addProcess({8, "caf\xC3\xA9 \xFF"});
  auto e = takeSnapshot();
  ASSERT_EQ(snapshotPids(e), (std::vector<uint64_t>{0, 2, 7, 8, 100, 300, 501, 502, 503, 4242}));
  EXPECT_EQ(e[1].name, L"kworker/u8:3-events_unbound");
  EXPECT_EQ(e[1].workingSet, 0u);
  EXPECT_EQ(e[1].kernelTime, ticksAsNtTime(7));
  EXPECT_EQ(e[2].name, std::wstring(64, L'x'));  // cut at 64 characters
  EXPECT_EQ(e[3].name, L"caf\u00e9 \uFFFD");     // stray bytes become U+FFFD
  EXPECT_EQ(e[6].privateBytes, 1024u * 1024);
  EXPECT_EQ(e[7].privateBytes, 1024u * 1024);
  EXPECT_EQ(e[8].session, 0u);
}

TEST(ProcessSnapshotTree, AnOddSystemStatCostsItsFiguresAndOnlyAMissingTreeFails) {
  FixtureTree tree;
  tree.addProcess({10, "p", 1, 1, 500});
  tree.activate();
  // No boot time: creation times count from an unknown boot, still one per process instance.
  tree.writeFile("stat", "cpu0 1 2 3 4\ncpu1 1 2 3 6\n");
  auto e = takeSnapshot();
  ASSERT_EQ(snapshotPids(e), (std::vector<uint64_t>{0, 10}));
  EXPECT_EQ(e[1].createTime, ticksAsNtTime(500));
  EXPECT_EQ(e[0].kernelTime, ticksAsNtTime(10));
  // A garbled processor line: the idle time is unknown, the processes are all there.
  tree.writeFile("stat", "cpu0 1 2 3 4\ncpu1 1 x 3 4\nbtime 1700000000\n");
  e = takeSnapshot();
  ASSERT_EQ(snapshotPids(e), (std::vector<uint64_t>{0, 10}));
  EXPECT_EQ(e[0].kernelTime, 0);
  EXPECT_EQ(e[0].threads, 2u);
  EXPECT_EQ(e[1].createTime, kUnixEpoch + 1700000000LL * 10'000'000 + ticksAsNtTime(500));
  tree.removeFile("stat");
  EXPECT_EQ(snapshotPids(takeSnapshot()), (std::vector<uint64_t>{0, 10}));

  std::vector<unsigned char> big(65536);
  ULONG used = 0;
  setenv("VARNEL_PROCFS", (tree.root() + "/missing").c_str(), 1);
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, big.data(), 65536, &used), STATUS_UNSUCCESSFUL);
}

// 0: every file opened on every pass; 5: some kept, the rest opened on each pass; plenty: all kept.
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
  EXPECT_EQ(p->createTime, kUnixEpoch + 1700000000LL * 10'000'000 + ticksAsNtTime(9000));
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

// Long after a process was first seen it writes its login uid, which gives it a session: seen
// on the next pass when the process has visibly run, within 16 passes when it left no trace.
TEST_P(SnapshotCache, ALoginUidWrittenLongAfterTheProcessWasFirstSeenGivesItsSession) {
  for (int pass = 0; pass < 20; ++pass) EXPECT_EQ(find(takeSnapshot(), 900)->session, 0u);
  tree.addProcess({900, "other", 3, 1, 800, 1024, 0, 21});  // it ran: CPU time 1 -> 3 ticks
  EXPECT_EQ(find(takeSnapshot(), 900)->session, 21u);

  tree.writeFile("100/sessionid", "22");
  int late = 0;
  while (late < 16 && find(takeSnapshot(), 100)->session != 22u) ++late;
  EXPECT_LT(late, 16);
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

// The kernel's procfs: this process with its figures, and a kept file of a process that has
// ended answers ESRCH.
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
  const SnapshotEntry* self = find(first, static_cast<uint64_t>(getpid()));
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->parent, static_cast<uint64_t>(getppid()));
  EXPECT_GT(self->workingSet, 0u);
  EXPECT_GT(self->createTime, kUnixEpoch);
  EXPECT_GT(winapi_linux::snapshotDescriptorsKept(), 0u);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  auto second = takeSnapshot();
  EXPECT_EQ(find(second, static_cast<uint64_t>(child)), nullptr);
  EXPECT_NE(find(second, static_cast<uint64_t>(getpid())), nullptr);
}

}  // namespace
