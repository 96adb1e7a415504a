// Tests of GlobalMemoryStatusEx over fixture meminfo files.
#include <gtest/gtest.h>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

using statrix_test::FixtureTree;

class MemoryStatus : public ::testing::Test {
 protected:
  void SetUp() override { tree.activate(); }
  BOOL query() {
    status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status);
  }
  FixtureTree tree;
  MEMORYSTATUSEX status{};
};

TEST_F(MemoryStatus, FiguresFollowMeminfoWithATruncatedLoad) {
  tree.setMeminfo(16u << 20, 4u << 20, 2u << 20, 1u << 20);
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullTotalPhys, 16ull << 30);
  EXPECT_EQ(status.ullAvailPhys, 4ull << 30);
  EXPECT_EQ(status.dwMemoryLoad, 75u);
  EXPECT_EQ(status.ullTotalPageFile, 18ull << 30);  // physical memory plus swap
  EXPECT_EQ(status.ullAvailPageFile, 5ull << 30);
  EXPECT_EQ(status.ullAvailVirtual, status.ullTotalVirtual);  // the tree has no "self"

  const struct {
    uint64_t total, avail;
    DWORD load;
  } cases[] = {{3, 1, 66}, {100, 250, 0}, {100, 0, 100}};
  for (auto c : cases) {
    tree.setMeminfo(c.total, c.avail);
    ASSERT_TRUE(query());
    EXPECT_EQ(status.dwMemoryLoad, c.load) << c.total << "/" << c.avail;
    EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
  }
  // Kernels before MemAvailable: free memory plus caches.
  tree.writeFile("meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 250 kB\n");
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullAvailPhys, 400u * 1024);
}

TEST_F(MemoryStatus, BadRecordLengthsAndUnreadableMeminfoFail) {
  for (DWORD length : {0u, 63u, 65u}) {
    MEMORYSTATUSEX s{};
    s.dwLength = length;
    EXPECT_FALSE(GlobalMemoryStatusEx(&s)) << length;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  for (const char* text : {"", "MemTotal: 0 kB\nMemAvailable: 0 kB\n", "MemTotal: 12x kB\nMemAvailable: 1 kB\n",
                           "MemAvailable: 100 kB\n", "MemTotal: 100 kB\n"}) {
    tree.writeFile("meminfo", text);
    EXPECT_FALSE(query()) << text;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << text;
  }
  tree.removeFile("meminfo");
  EXPECT_FALSE(query());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(MemoryStatusMachine, ThisProcessUsesPartOfItsAddressSpace) {
  MEMORYSTATUSEX s{};
  s.dwLength = sizeof s;
  ASSERT_TRUE(GlobalMemoryStatusEx(&s));
  EXPECT_GT(s.ullTotalPhys, 0u);
  EXPECT_LT(s.ullAvailVirtual, s.ullTotalVirtual);
}

}  // namespace
