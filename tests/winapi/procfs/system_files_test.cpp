// Machine-wide files: a real procfs file is kept open yet read afresh, by one reader at a time;
// a fixture tree's files are opened for every read, so rewriting them is seen.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "procfs/bounded_read.h"
#include "procfs/procfs_files.h"
#include "procfs/system_files.h"
#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::openDescriptors;
using winapi_linux::SystemFile;

std::string readWhole(const std::string& path) {
  const SystemFile file(path);
  std::string text;
  EXPECT_GE(file.fd(), 0) << path << ": " << file.error();
  if (file.fd() >= 0) {
    EXPECT_EQ(winapi_linux::readWholeOpenFile(file.fd(), text), 0);
  }
  return text;
}

}  // namespace

TEST(SystemFiles, ARealProcfsFileIsKeptOpenAndReadAfreshEachTime) {
  // uptime moves every hundredth of a second: a kept descriptor must not serve old text.
  const std::string first = readWhole("/proc/uptime");
  const size_t descriptors = openDescriptors();
  std::string later;
  for (int i = 0; i < 50 && (later.empty() || later == first); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    later = readWhole("/proc/uptime");
  }
  EXPECT_NE(later, first);
  EXPECT_EQ(openDescriptors(), descriptors) << "a read opened a descriptor of its own";
  const SystemFile kept("/proc/uptime");
  EXPECT_TRUE(kept.kept());

  // The bounded reader reads a kept file from its start too, however often.
  std::string text;
  for (int i = 0; i < 3; ++i) {
    const SystemFile file("/proc/stat");
    ASSERT_EQ(winapi_linux::readRegularOpenFile(file.fd(), 8u << 20, text), 0);
    EXPECT_EQ(text.rfind("cpu ", 0), 0u) << text.substr(0, 40);
  }
}

TEST(SystemFiles, ReadersOfOneKeptFileTakeTurnsAndEachGetsAWholeText) {
  std::vector<std::thread> readers;
  std::atomic<int> whole{0};
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      std::string text;
      for (int i = 0; i < 200; ++i) {
        const SystemFile file("/proc/meminfo");
        if (file.fd() >= 0 && winapi_linux::readWholeOpenFile(file.fd(), text) == 0 &&
            text.rfind("MemTotal:", 0) == 0 && text.find("MemAvailable:") != std::string::npos)
          ++whole;
      }
    });
  }
  for (auto& r : readers) r.join();
  EXPECT_EQ(whole.load(), 800);
}

TEST(SystemFiles, AFixtureFileIsOpenedForEveryReadSoRewritesAreSeen) {
  statrix_test::FixtureTree tree;
  tree.writeFile("loadavg", "0.10 0.20 0.30 1/100 42\n");
  const std::string path = tree.root() + "/loadavg";
  {
    const SystemFile file(path);
    EXPECT_FALSE(file.kept());
  }
  EXPECT_EQ(readWhole(path), "0.10 0.20 0.30 1/100 42\n");
  tree.writeFile("loadavg", "1.50 0.20 0.30 2/100 43\n");
  EXPECT_EQ(readWhole(path), "1.50 0.20 0.30 2/100 43\n");

  tree.removeFile("loadavg");
  const SystemFile missing(path);
  EXPECT_EQ(missing.fd(), -1);
  EXPECT_EQ(missing.error(), ENOENT);
}

TEST(SystemFiles, TheBoundedReaderReturnsEveryByteUpToItsLimitAndRefusesMore) {
  // Sizes around the reader's 8 KiB step and many steps long, each read whole, then with a limit
  // of exactly its size (read) and one byte less (refused).
  statrix_test::FixtureTree tree;
  for (size_t size : {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{200000}}) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + (i * 7 + i / 8192) % 26);
    tree.writeFile("big", content);
    const SystemFile file(tree.root() + "/big");
    ASSERT_GE(file.fd(), 0);
    std::string text = "left over";
    EXPECT_EQ(winapi_linux::readRegularOpenFile(file.fd(), 1u << 20, text), 0) << size;
    EXPECT_TRUE(text == content) << size << " bytes came back as " << text.size();
    EXPECT_EQ(winapi_linux::readRegularOpenFile(file.fd(), size, text), 0) << size;
    EXPECT_EQ(text.size(), size);
    if (size > 0) {
      EXPECT_EQ(winapi_linux::readRegularOpenFile(file.fd(), size - 1, text), EFBIG) << size;
    }
  }
}

TEST(SystemFiles, AForkedChildReadsItsOwnSelfFilesNotItsParents) {
  // The parent keeps its own statm; a child that maps another GiB must see its own size, through
  // a descriptor of its own, and the parent goes on with the one it kept.
  auto size = [](const std::string& text) { return std::stoull(text.substr(0, text.find(' '))); };
  const std::string before = readWhole("/proc/self/statm");
  ASSERT_TRUE(SystemFile("/proc/self/statm").kept());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    void* extra = ::mmap(nullptr, size_t{1} << 30, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (extra == MAP_FAILED) ::_exit(2);
    std::string text;
    const SystemFile file("/proc/self/statm");
    if (file.fd() < 0 || winapi_linux::readWholeOpenFile(file.fd(), text) != 0) ::_exit(3);
    const uint64_t pages = (size_t{1} << 30) / static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    ::_exit(size(text) >= size(before) + pages ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child read its parent's statm, 2-3: it could not map or read";
  const size_t descriptors = openDescriptors();
  EXPECT_FALSE(readWhole("/proc/self/statm").empty());
  EXPECT_EQ(openDescriptors(), descriptors);
}
