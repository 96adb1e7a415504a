// Tests that a failed allocation while reading procfs never leaves GlobalMemoryStatusEx or
// NtQuerySystemInformation as an exception: the failure comes back through their status.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "support/linux/fixture_tree.h"
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

// A meminfo and a stat of 2 MiB: reading them needs buffers larger than 1 MiB.
class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string filler;
    while (filler.size() < (size_t{2} << 20)) filler += "Unknown_field:        12345 kB\n";
    tree.writeFile("meminfo", "MemTotal: 1000 kB\nMemAvailable: 250 kB\n" + filler);
    tree.writeFile("stat", "cpu0 1 2 3 4\nbtime 1700000000\n" + filler);
    tree.addProcesses(2, 100);
    tree.activate();
  }
  void TearDown() override { failFrom = 0; }
  statrix_test::FixtureTree tree;
};

TEST_F(AllocationFailure, IsReportedThroughTheStatusNeverThrown) {
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));  // the files themselves are fine
  EXPECT_EQ(memory.dwMemoryLoad, 75u);

  failFrom = size_t{1} << 20;
  bool ok = true;
  EXPECT_NO_THROW(ok = GlobalMemoryStatusEx(&memory));
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

  std::vector<unsigned char> buf(65536);
  ULONG returned = 0;
  NTSTATUS status = STATUS_SUCCESS;
  EXPECT_NO_THROW(status = NtQuerySystemInformation(SystemProcessorPerformanceInformation, buf.data(), 6144,
                                                     &returned));
  EXPECT_EQ(status, STATUS_NO_MEMORY);
  // The snapshot needs stat only for the idle entry and creation times: it still answers.
  EXPECT_NO_THROW(status = NtQuerySystemInformation(SystemProcessInformation, buf.data(), 65536, &returned));
  EXPECT_EQ(status, STATUS_SUCCESS);

  failFrom = 0;
  EXPECT_TRUE(GlobalMemoryStatusEx(&memory));  // nothing stays broken
}

}  // namespace
