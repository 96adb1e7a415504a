// Tests of procfs trees holding what no kernel writes: FIFOs, directories and endless files
// where files belong. Every query answers (no hang, no exception) through its status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "procfs_files.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/snapshot_reader.h"
#include "winapi.h"

namespace {

using statrix_test::FixtureTree;
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
  void TearDown() override { ::alarm(0); }

  void makeFifo(const std::string& relative) {
    tree.removeFile(relative);
    ASSERT_EQ(::mkfifo((tree.root() + "/" + relative).c_str(), 0600), 0);
  }
  // A regular file of `size` bytes that occupies no disk: reads give zeros, no line end.
  void makeSparse(const std::string& relative, off_t size) {
    tree.removeFile(relative);
    int fd = ::open((tree.root() + "/" + relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }

  FixtureTree tree;
};

TEST_F(HostileProcfs, AFifoIsRefusedWithoutWaitingForAWriter) {
  makeFifo("101/stat");
  makeFifo("102/statm");
  makeFifo("102/sessionid");
  long status = 0;
  auto entries = takeSnapshot(&status);
  ASSERT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(snapshotPids(entries), (std::vector<uint64_t>{0, 100, 102}));  // 102 loses memory and session only

  makeFifo("meminfo");
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  EXPECT_FALSE(GlobalMemoryStatusEx(&memory));
  makeFifo("stat");
  std::vector<unsigned char> buf(6144);
  ULONG returned = 0;
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(snapshotPids(takeSnapshot(&status)), (std::vector<uint64_t>{0, 100, 102}));
}

TEST_F(HostileProcfs, DirectoriesWhereFilesBelongAreNotRead) {
  tree.removeFile("101/stat");
  tree.writeFile("101/stat/x", "");
  tree.removeFile("meminfo");
  tree.writeFile("meminfo/x", "");
  long status = 0;
  EXPECT_EQ(snapshotPids(takeSnapshot(&status)), (std::vector<uint64_t>{0, 100, 102}));
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  EXPECT_FALSE(GlobalMemoryStatusEx(&memory));
}

TEST_F(HostileProcfs, EndlessFilesAreReadOnlyUpToTheLimit) {
  makeSparse("stat", off_t{64} << 20);
  std::string text;
  ASSERT_EQ(winapi_linux::readWholeFile(tree.root() + "/stat", text), 0);
  EXPECT_LE(text.size(), winapi_linux::kMaxWholeFile);
  EXPECT_TRUE(text.empty());  // zeros without a line end: no complete line

  // Known lines first, then an endless tail: the figures of the first lines count.
  std::string meminfo = "MemTotal: 1000 kB\nMemAvailable: 250 kB\n";
  tree.writeFile("meminfo", meminfo);
  ASSERT_EQ(::truncate((tree.root() + "/meminfo").c_str(), off_t{64} << 20), 0);
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_EQ(memory.dwMemoryLoad, 75u);

  makeSparse("meminfo", off_t{64} << 20);
  EXPECT_FALSE(GlobalMemoryStatusEx(&memory));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  std::vector<unsigned char> buf(6144);
  ULONG returned = 0;
  EXPECT_EQ(NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144, &returned),
            STATUS_UNSUCCESSFUL);
  long status = 0;
  takeSnapshot(&status);
  EXPECT_EQ(status, STATUS_SUCCESS);  // stat serves only the idle entry and creation times
}

TEST_F(HostileProcfs, ReadsOfOpenFilesStartOverAndKeepWholeLines) {
  tree.writeFile("f", "first line\nsecond line\n");
  winapi_linux::ScopedFd fd = winapi_linux::openRegularAt(AT_FDCWD, (tree.root() + "/f").c_str());
  ASSERT_TRUE(fd.valid());
  char small[16];
  auto r = winapi_linux::readOpenFile(fd.get(), small);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::string(small, r.length), "first line\n");
  char big[64];
  r = winapi_linux::readOpenFile(fd.get(), big);  // again from the start
  EXPECT_EQ(std::string(big, r.length), "first line\nsecond line\n");
}

}  // namespace
