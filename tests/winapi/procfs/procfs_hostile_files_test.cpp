// Tests of procfs trees holding what no kernel writes: FIFOs, directories and endless files
// where files belong, and allocations that fail while they are read. Every query answers (no
// hang, no exception) through its status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "procfs/procfs_files.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

// While set, every allocation of this many bytes or more fails.
std::atomic<size_t> failFrom{0};

void* allocate(size_t size) {
  size_t limit = failFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

// This program's replacements of the global allocation functions, also used by the layer.
void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using statrix_test::snapshotPids;
using statrix_test::takeSnapshot;

// A hang would block the suite until its time-out; this turns it into a quick failure.
class HostileProcfs : public ::testing::Test {
 protected:
  void SetUp() override {
    ::alarm(120);
    tree.addProcesses(3, 100);
    tree.activate();
  }
  void TearDown() override {
    ::alarm(0);
    failFrom = 0;
  }

  void makeFifo(const std::string& relative) {
    tree.removeFile(relative);
    ASSERT_EQ(::mkfifo((tree.root() + "/" + relative).c_str(), 0600), 0);
  }
  void makeDirectory(const std::string& relative) {
    tree.removeFile(relative);
    tree.writeFile(relative + "/x", "");
  }
  BOOL memoryStatus() {
    memory = {};
    memory.dwLength = sizeof memory;
    return GlobalMemoryStatusEx(&memory);
  }
  NTSTATUS processorTimes() {
    std::vector<unsigned char> buf(6144);
    ULONG returned = 0;
    return NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned);
  }

  statrix_test::FixtureTree tree;
  MEMORYSTATUSEX memory{};
};

TEST_F(HostileProcfs, FifosAndDirectoriesAreRefusedWithoutWaitingForAWriter) {
  makeDirectory("101/stat");
  makeFifo("102/statm");
  makeFifo("102/sessionid");
  long status = 0;
  auto entries = takeSnapshot(&status);
  ASSERT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(snapshotPids(entries), (std::vector<uint64_t>{0, 100, 102}));  // 102 loses memory and session only

  makeFifo("meminfo");
  EXPECT_FALSE(memoryStatus());
  makeDirectory("meminfo");
  EXPECT_FALSE(memoryStatus());
  makeFifo("stat");
  EXPECT_EQ(processorTimes(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(snapshotPids(takeSnapshot(&status)), (std::vector<uint64_t>{0, 100, 102}));
}

TEST_F(HostileProcfs, EndlessFilesAreReadOnlyUpToTheLimit) {
  // A regular file of 64 MiB that occupies no disk: reads give zeros, no line end.
  tree.writeFile("stat", "");
  ASSERT_EQ(::truncate((tree.root() + "/stat").c_str(), off_t{64} << 20), 0);
  std::string text;
  ASSERT_EQ(winapi_linux::readWholeFile(tree.root() + "/stat", text), 0);
  EXPECT_LE(text.size(), winapi_linux::kMaxWholeFile);
  EXPECT_TRUE(text.empty());  // no complete line
  EXPECT_EQ(processorTimes(), STATUS_UNSUCCESSFUL);
  long status = 0;
  takeSnapshot(&status);
  EXPECT_EQ(status, STATUS_SUCCESS);  // stat serves only the idle entry and creation times

  // Known lines first, then an endless tail: the figures of the first lines count.
  tree.writeFile("meminfo", "MemTotal: 1000 kB\nMemAvailable: 250 kB\n");
  ASSERT_EQ(::truncate((tree.root() + "/meminfo").c_str(), off_t{64} << 20), 0);
  ASSERT_TRUE(memoryStatus());
  EXPECT_EQ(memory.dwMemoryLoad, 75u);
  tree.writeFile("meminfo", "");
  ASSERT_EQ(::truncate((tree.root() + "/meminfo").c_str(), off_t{64} << 20), 0);
  EXPECT_FALSE(memoryStatus());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
}

// A meminfo and a stat of 2 MiB: reading them needs buffers larger than 1 MiB.
TEST_F(HostileProcfs, AFailedAllocationIsReportedThroughTheStatusNeverThrown) {
  std::string filler;
  while (filler.size() < (size_t{2} << 20)) filler += "Unknown_field:        12345 kB\n";
  tree.writeFile("meminfo", "MemTotal: 1000 kB\nMemAvailable: 250 kB\n" + filler);
  tree.writeFile("stat", "cpu0 1 2 3 4\nbtime 1700000000\n" + filler);
  ASSERT_TRUE(memoryStatus());  // the files themselves are fine
  EXPECT_EQ(memory.dwMemoryLoad, 75u);

  failFrom = size_t{1} << 20;
  bool ok = true;
  EXPECT_NO_THROW(ok = memoryStatus());
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  NTSTATUS status = STATUS_SUCCESS;
  EXPECT_NO_THROW(status = processorTimes());
  EXPECT_EQ(status, STATUS_NO_MEMORY);
  // The snapshot needs stat only for the idle entry and creation times: it still answers.
  std::vector<unsigned char> buf(65536);
  ULONG returned = 0;
  EXPECT_NO_THROW(status = NtQuerySystemInformation(SystemProcessInformation, buf.data(), 65536, &returned));
  EXPECT_EQ(status, STATUS_SUCCESS);

  failFrom = 0;
  EXPECT_TRUE(memoryStatus());  // nothing stays broken
}

}  // namespace
