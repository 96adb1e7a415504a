// Fault injection: per-process files vanish, shrink, grow and turn into directories between
// and during passes. Every pass succeeds, and every process it lists has its true figures.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

using statrix_test::FakeProcess;
using statrix_test::FixtureTree;
using statrix_test::SnapshotEntry;
using statrix_test::takeSnapshot;
using statrix_test::ticksAsNtTime;

constexpr uint32_t kFirstPid = 1000;
constexpr size_t kProcesses = 24;

// The figures addProcesses writes for process `i`.
FakeProcess original(size_t i) {
  FakeProcess p;
  p.pid = kFirstPid + static_cast<uint32_t>(i);
  p.comm = "proc" + std::to_string(p.pid);
  p.utime = 10 + i;
  p.stime = 5 + i;
  p.starttime = 1000 + i;
  p.rssAnonKb = 1024;
  return p;
}

// Removes whatever an earlier fault left at `relative`: file or directory.
void clear(FixtureTree& tree, const std::string& relative) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(tree.root()) / relative, ignored);
}

// One of the faults, applied to a random process; `restore` undoes every one.
void injectFault(FixtureTree& tree, std::mt19937& random) {
  const size_t i = random() % kProcesses;
  const FakeProcess p = original(i);
  const std::string dir = std::to_string(p.pid) + "/";
  const std::string stat = FixtureTree::statText(p);
  switch (random() % 8) {
    case 0:
      tree.removeProcess(p.pid);  // ended
      break;
    case 1:
      clear(tree, dir + "stat");
      tree.writeFile(dir + "stat", stat.substr(0, random() % stat.size()));  // shrunk, cut anywhere
      break;
    case 2:
      clear(tree, dir + "stat");
      tree.writeFile(dir + "stat", stat + " 1 2 3 4 5 6 7 8 9\nmore 1 2\n");  // grown
      break;
    case 3:
      clear(tree, dir + "statm");
      tree.writeFile(dir + "statm/x", "");  // a directory now
      break;
    case 4:
      clear(tree, dir + "stat");
      tree.writeFile(dir + "stat/x", "");
      break;
    case 5:
      clear(tree, dir + "statm");
      tree.writeFile(dir + "statm", "262 25");  // cut off
      break;
    case 6:
      clear(tree, dir + "sessionid");
      break;
    default:
      tree.removeProcess(p.pid);
      tree.addProcess(p);  // ended and started again under its pid
      break;
  }
}

void restore(FixtureTree& tree, size_t i) {
  tree.removeProcess(original(i).pid);
  tree.addProcess(original(i));
}

// Every listed process is one of the tree's with exactly its figures; memory may be unknown.
void expectTrueFigures(const std::vector<SnapshotEntry>& entries) {
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].pid, 0u);
  for (size_t k = 1; k < entries.size(); ++k) {
    const SnapshotEntry& e = entries[k];
    ASSERT_GE(e.pid, kFirstPid);
    ASSERT_LT(e.pid, kFirstPid + kProcesses);
    EXPECT_GT(e.pid, entries[k - 1].pid);
    const FakeProcess p = original(e.pid - kFirstPid);
    EXPECT_EQ(e.name, std::wstring(p.comm.begin(), p.comm.end()));
    EXPECT_EQ(e.userTime, ticksAsNtTime(p.utime));
    EXPECT_EQ(e.kernelTime, ticksAsNtTime(p.stime));
    EXPECT_EQ(e.createTime, (1700000000LL + 11644473600LL) * 10'000'000 + ticksAsNtTime(p.starttime));
    EXPECT_TRUE(e.workingSetPrivate == 0 || e.workingSetPrivate == 1024 * 1024) << e.workingSetPrivate;
    EXPECT_LE(e.privateBytes, 1024u * 1024);
    EXPECT_EQ(e.session, 0u);
  }
}

TEST(SnapshotFaults, FilesChangingBetweenPassesNeverFailAPassNorGiveOtherFigures) {
  FixtureTree tree;
  tree.addProcesses(kProcesses, kFirstPid);
  tree.activate();
  std::mt19937 random(7);
  for (int pass = 0; pass < 300; ++pass) {
    for (int k = 0; k < 3; ++k) injectFault(tree, random);
    long status = 0;
    auto entries = takeSnapshot(&status);
    ASSERT_EQ(status, STATUS_SUCCESS) << pass;
    expectTrueFigures(entries);
    if (pass % 4 == 3)
      for (size_t i = 0; i < kProcesses; ++i) restore(tree, i);
  }
  auto all = takeSnapshot();
  EXPECT_EQ(all.size(), kProcesses + 1);  // nothing of the faults outlives them
}

TEST(SnapshotFaults, FilesChangingDuringPassesNeverFailAPassNorGiveOtherFigures) {
  FixtureTree tree;
  tree.addProcesses(kProcesses, kFirstPid);
  tree.activate();
  std::atomic<bool> done{false};
  std::thread faults([&] {
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
      injectFault(tree, random);
      if (round % 5 == 4)
        for (size_t i = 0; i < kProcesses; ++i) restore(tree, i);
    }
    done = true;
  });
  int passes = 0;
  while (!done || passes < 20) {
    long status = 0;
    auto entries = takeSnapshot(&status);
    if (status != STATUS_SUCCESS) {
      ADD_FAILURE() << "pass " << passes << " failed: " << status;
      break;
    }
    expectTrueFigures(entries);
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    EXPECT_TRUE(GlobalMemoryStatusEx(&memory));
    ++passes;
  }
  faults.join();
}

}  // namespace
