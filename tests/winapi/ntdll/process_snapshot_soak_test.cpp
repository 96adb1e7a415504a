// Soak: many passes over a tree whose processes are born and gone every pass. Open
// descriptors and heap in use stay flat; leaks show under LeakSanitizer and valgrind.
// STATRIX_SOAK_PASSES sets the number of passes (10,000 by default).
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

using statrix_test::FixtureTree;
using statrix_test::openDescriptors;
using statrix_test::takeSnapshot;

int passesWanted() {
  const char* v = std::getenv("STATRIX_SOAK_PASSES");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 10000;
}

size_t heapInUse() { return mallinfo2().uordblks; }

// The churn writes five files per pass: in memory where possible, so that the run measures
// the layer rather than the disk.
void treesInMemory() {
  if (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
}

TEST(SnapshotSoak, ChurningProcessesLeaveDescriptorsAndHeapFlat) {
  constexpr uint32_t kLive = 40;
  treesInMemory();
  FixtureTree tree;
  tree.addProcesses(kLive, 1000);
  tree.activate();
  const int passes = passesWanted();
  const int warmUp = std::min(100, passes / 2);
  uint32_t oldest = 1000, next = 1000 + kLive;
  size_t descriptors = 0, heap = 0;
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  for (int pass = 0; pass < passes; ++pass) {
    if (pass == warmUp) {
      descriptors = openDescriptors();
      heap = heapInUse();
    }
    // One process ends and one starts each pass, and one pass in ten the machine files change.
    tree.removeProcess(oldest++);
    tree.addProcesses(1, next++);
    if (pass % 10 == 0) tree.setMeminfo(16u << 20, (8u << 20) + static_cast<uint64_t>(pass));
    long status = 0;
    auto entries = takeSnapshot(&status);
    ASSERT_EQ(status, STATUS_SUCCESS) << pass;
    ASSERT_EQ(entries.size(), kLive + 1) << pass;
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory)) << pass;
  }
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_LT(heapInUse(), heap + (256u << 10)) << "heap in use grew from " << heap;
  std::printf("passes %d: descriptors %zu -> %zu, heap in use %zu -> %zu bytes\n", passes, descriptors,
              openDescriptors(), heap, heapInUse());
}

}  // namespace
