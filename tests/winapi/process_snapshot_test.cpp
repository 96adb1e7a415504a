// Tests of the process snapshot (class 5): the entry layout walked by its published offsets,
// the figures taken from procfs, the buffer-size protocol and processes that vanish.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

using statrix_test::FakeProcess;
using statrix_test::FixtureTree;

template <class T>
T at(const unsigned char* p, size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof v);
  return v;
}

struct Entry {
  size_t offset;
  uint32_t threads, session;
  uint16_t nameMax;
  int64_t workingSetPrivate, createTime, userTime, kernelTime;
  std::wstring name;
  uint64_t pid, parent, workingSet, privateBytes;
};

// Follows the chain as the module does, checking the layout rules on the way.
std::vector<Entry> walk(const std::vector<unsigned char>& buf, ULONG used) {
  std::vector<Entry> entries;
  for (size_t off = 0;;) {
    EXPECT_EQ(off % 8, 0u);
    const unsigned char* p = buf.data() + off;
    auto* name = at<const wchar_t*>(p, 0x40);
    auto nameLength = at<uint16_t>(p, 0x38);
    Entry e{off,
            at<uint32_t>(p, 0x04),
            at<uint32_t>(p, 0x64),
            at<uint16_t>(p, 0x3A),
            at<int64_t>(p, 0x08),
            at<int64_t>(p, 0x20),
            at<int64_t>(p, 0x28),
            at<int64_t>(p, 0x30),
            std::wstring(name, nameLength / 4),
            at<uint64_t>(p, 0x50),
            at<uint64_t>(p, 0x58),
            at<uint64_t>(p, 0x90),
            at<uint64_t>(p, 0xC8)};
    // The name follows the fixed part inside the buffer, NUL-terminated; lengths in bytes.
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(name), p + 0x100);
    EXPECT_EQ(e.nameMax, nameLength + sizeof(wchar_t));
    EXPECT_EQ(name[nameLength / sizeof(wchar_t)], L'\0');
    EXPECT_LE(off + 0x100 + e.nameMax, used);
    entries.push_back(e);
    auto next = at<uint32_t>(p, 0x00);
    if (next == 0) break;
    off += next;
  }
  return entries;
}

// The module's growth loop: a first call with nothing, then the asked size plus 16384.
std::vector<unsigned char> snapshot(ULONG& used) {
  std::vector<unsigned char> buf;
  ULONG size = 0;
  for (int round = 0; round < 3; ++round) {
    NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, buf.data(), size, &used);
    if (status == STATUS_SUCCESS) return buf;
    EXPECT_EQ(status, STATUS_INFO_LENGTH_MISMATCH);
    size = std::max(size, used) + 16384;
    buf.resize(size);
  }
  ADD_FAILURE() << "the snapshot never fitted";
  return {};
}

std::vector<uint64_t> pids(const std::vector<Entry>& entries) {
  std::vector<uint64_t> out;
  for (const Entry& e : entries) out.push_back(e.pid);
  return out;
}

int64_t ntTime(uint64_t ticks) { return static_cast<int64_t>(ticks * 10'000'000 / sysconf(_SC_CLK_TCK)); }

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
  ULONG used = 0;
  auto buf = snapshot(used);
  auto e = walk(buf, used);
  ASSERT_EQ(pids(e), (std::vector<uint64_t>{0, 100, 300, 4242}));
  EXPECT_EQ(e[0].name, L"Idle");
  EXPECT_EQ(e[0].threads, 2u);                              // one per processor
  EXPECT_EQ(e[0].kernelTime, ntTime(500 + 20 + 700 + 30));  // and their idle time
  EXPECT_EQ(e[1].name, L"init");
  EXPECT_EQ(e[2].name, L"%n%s");
  EXPECT_EQ(e[3].name, L"a) (b");
  EXPECT_EQ(e.back().offset + 0x100 + e.back().nameMax, used);

  const Entry& p = e[3];
  EXPECT_EQ(p.createTime, (1700000000LL + 11644473600LL) * 10'000'000 + ntTime(5000));
  EXPECT_EQ(p.userTime, ntTime(300));
  EXPECT_EQ(p.kernelTime, ntTime(40));
  EXPECT_EQ(p.workingSetPrivate, 2048 * 1024);
  EXPECT_EQ(p.privateBytes, (2048u + 512u) * 1024);
  EXPECT_EQ(p.workingSet, 2048u * 1024);
  EXPECT_EQ(p.session, 2u);
  EXPECT_EQ(p.parent, 1u);
  EXPECT_EQ(p.threads, 1u);
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
  auto tooSmall = static_cast<ULONG>(walk(buf, used)[2].offset);
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, buf.data(), tooSmall, &needed),
            STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_GT(needed, tooSmall);
  ASSERT_LE(needed, buf.size());
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, buf.data(), needed, &used), STATUS_SUCCESS);

  tree.addProcesses(600, 10000);
  auto many = snapshot(used);
  EXPECT_EQ(walk(many, used).size(), 604u);
}

TEST_F(ProcessSnapshot, VanishedProcessesAreLeftOutAndOddOnesListed) {
  tree.addProcesses(4, 500);
  tree.writeFile("500/stat", "");  // exited between listing and reading
  tree.removeFile("501/status");     // status costs only the swapped-out memory
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
  ULONG used = 0;
  auto buf = snapshot(used);
  auto e = walk(buf, used);
  ASSERT_EQ(pids(e), (std::vector<uint64_t>{0, 2, 7, 8, 100, 300, 501, 502, 503, 4242}));
  EXPECT_EQ(e[1].name, L"kworker/u8:3-events_unbound");
  EXPECT_EQ(e[1].workingSet, 0u);
  EXPECT_EQ(e[1].kernelTime, ntTime(7));
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
  ULONG used = 0;
  auto buf = snapshot(used);
  auto e = walk(buf, used);
  ASSERT_EQ(pids(e), (std::vector<uint64_t>{0, 10}));
  EXPECT_EQ(e[1].createTime, ntTime(500));
  EXPECT_EQ(e[0].kernelTime, ntTime(10));
  // A garbled processor line: the idle time is unknown, the processes are all there.
  tree.writeFile("stat", "cpu0 1 2 3 4\ncpu1 1 x 3 4\nbtime 1700000000\n");
  buf = snapshot(used);
  e = walk(buf, used);
  ASSERT_EQ(pids(e), (std::vector<uint64_t>{0, 10}));
  EXPECT_EQ(e[0].kernelTime, 0);
  EXPECT_EQ(e[0].threads, 2u);
  EXPECT_EQ(e[1].createTime, (1700000000LL + 11644473600LL) * 10'000'000 + ntTime(500));
  tree.removeFile("stat");
  buf = snapshot(used);
  EXPECT_EQ(pids(walk(buf, used)), (std::vector<uint64_t>{0, 10}));

  std::vector<unsigned char> big(65536);
  setenv("VARNEL_PROCFS", (tree.root() + "/missing").c_str(), 1);
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessInformation, big.data(), 65536, &used), STATUS_UNSUCCESSFUL);
}

TEST(ProcessSnapshotMachine, ListsThisProcessFromTheRealProcfs) {
  ULONG used = 0;
  auto buf = snapshot(used);
  auto entries = walk(buf, used);
  auto self = std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return e.pid == uint64_t(getpid()); });
  ASSERT_NE(self, entries.end());
  EXPECT_EQ(self->parent, static_cast<uint64_t>(getppid()));
  EXPECT_GT(self->workingSet, 0u);
  EXPECT_GT(self->createTime, 11644473600LL * 10'000'000);
}

}  // namespace
