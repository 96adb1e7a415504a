// Tests of the system-wide figures over fixture trees: GlobalMemoryStatusEx from meminfo, and
// the processor-time query (class 8) with processor groups from stat.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

using statrix_test::FakeCpu;
using statrix_test::FixtureTree;
using statrix_test::ticksAsNtTime;

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
  const struct {
    uint64_t total, avail;
    DWORD load;
  } cases[] = {{16u << 20, 4u << 20, 75}, {3, 1, 66}, {100, 250, 0}, {100, 0, 100}};
  for (auto c : cases) {
    tree.setMeminfo(c.total, c.avail);
    ASSERT_TRUE(query());
    EXPECT_EQ(status.dwMemoryLoad, c.load) << c.total << "/" << c.avail;
    EXPECT_EQ(status.ullTotalPhys, c.total * 1024);
    EXPECT_EQ(status.ullAvailPhys, std::min(c.avail, c.total) * 1024);  // never more than the total
  }
  // Kernels before MemAvailable: free memory plus caches.
  tree.writeFile("meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 250 kB\n");
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullAvailPhys, 400u * 1024);
}

// The virtual figures describe the calling process: its own mapped size (self/statm, in pages)
// comes off the user address space; a tree without "self" leaves all of it available.
TEST_F(MemoryStatus, AvailableVirtualIsTheAddressSpaceLessTheCallersMappings) {
  tree.setMeminfo(16u << 20, 4u << 20);
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullAvailVirtual, status.ullTotalVirtual);
  tree.writeFile("self/statm", "1000 20 10 1 0 30 0\n");
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullTotalVirtual - status.ullAvailVirtual, 1000u * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)));
  tree.writeFile("self/statm", "garbage\n");
  ASSERT_TRUE(query());
  EXPECT_EQ(status.ullAvailVirtual, status.ullTotalVirtual);
}

TEST_F(MemoryStatus, UnreadableMeminfoFails) {
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

int64_t field(const std::vector<unsigned char>& buf, size_t entry, size_t offset) {
  int64_t v;
  std::memcpy(&v, buf.data() + entry * 48 + offset, sizeof v);
  return v;
}

FakeCpu cpu(uint64_t i) { return {100 + i, 1, 20 + i, 1000 + i, 3, 4, 5, 6}; }  // distinct columns

NTSTATUS queryGroup(USHORT group, std::vector<unsigned char>& buf, ULONG& returned) {
  return NtQuerySystemInformationEx(SystemProcessorPerformanceInformation, &group, sizeof group, buf.data(),
                                    static_cast<ULONG>(buf.size()), &returned);
}

class ProcessorTimes : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<FakeCpu> cpus;
    for (uint64_t i = 0; i < 200; ++i) cpus.push_back(cpu(i));
    tree.setCpus(cpus);
    tree.activate();
  }
  FixtureTree tree;
};

TEST_F(ProcessorTimes, ThePlainQueryAnswersGroupZeroWithTheWindowsAccounting) {
  std::vector<unsigned char> buf(6144);  // the module's buffer
  ULONG returned = 0;
  ASSERT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned),
            STATUS_SUCCESS);
  ASSERT_EQ(returned, 64u * 48);
  for (size_t i : {size_t{0}, size_t{63}}) {
    FakeCpu c = cpu(i);
    uint64_t idle = c.idle + c.iowait;
    EXPECT_EQ(field(buf, i, 0), ticksAsNtTime(idle)) << i;
    EXPECT_EQ(field(buf, i, 8), ticksAsNtTime(idle + c.system + c.irq + c.softirq + c.steal)) << i;
    EXPECT_EQ(field(buf, i, 16), ticksAsNtTime(c.user + c.nice)) << i;
  }
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, nullptr, 0, &returned),
            STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(returned, 64u * 48);
}

TEST_F(ProcessorTimes, GroupsOfSixtyFourAgreeWithTheProcessorCounts) {
  EXPECT_EQ(GetActiveProcessorGroupCount(), 4);
  EXPECT_EQ(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), 200u);
  const ULONG expected[] = {64, 64, 64, 8};
  std::vector<unsigned char> buf(64 * 48);
  ULONG returned = 0;
  for (USHORT group = 0; group < 4; ++group) {
    EXPECT_EQ(GetActiveProcessorCount(group), expected[group]);
    ASSERT_EQ(queryGroup(group, buf, returned), STATUS_SUCCESS);
    EXPECT_EQ(returned, expected[group] * 48);
    EXPECT_EQ(field(buf, 0, 16), ticksAsNtTime(cpu(group * 64u).user + 1)) << group;  // its first processor
  }
  buf.resize(8 * 48 - 1);
  EXPECT_EQ(queryGroup(3, buf, returned), STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(returned, 8u * 48);
  EXPECT_EQ(queryGroup(4, buf, returned), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(GetActiveProcessorCount(4), 0u);
}

TEST_F(ProcessorTimes, AnUnreadableStatFails) {
  std::vector<unsigned char> buf(6144);
  ULONG returned = 0;
  tree.writeFile("stat", "cpu0 1 2 x 4\n");
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned),
            STATUS_UNSUCCESSFUL);
  tree.removeFile("stat");
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
