// Machine-wide files: a real procfs file is kept open yet read afresh, by one reader at a time;
// a fixture tree's files are opened for every read, so rewriting them is seen.
#include <dirent.h>
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
#include "support/linux/fixture_tree.h"

namespace {

using winapi_linux::SystemFile;

size_t openDescriptors() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

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
