// Tests of the counter-path parser.
#include <gtest/gtest.h>

#include "counter_path.h"

namespace {

using winapi_linux::perf::parseCounterPath;

TEST(CounterPath, PartsOfWellFormedPaths) {
  auto p = parseCounterPath(L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->object, L"PhysicalDisk");
  EXPECT_TRUE(p->hasInstance);
  EXPECT_EQ(p->instance, L"_Total");
  EXPECT_EQ(p->counter, L"Avg. Disk sec/Read");
  EXPECT_TRUE(p->machine.empty());
  EXPECT_FALSE(p->wildcard());

  p = parseCounterPath(L"\\Memory\\Pages Input/sec");
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->hasInstance);
  EXPECT_EQ(p->counter, L"Pages Input/sec");

  p = parseCounterPath(L"\\\\HOST\\Process(svc (x)/child#2)\\% Processor Time");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->machine, L"HOST");
  EXPECT_EQ(p->object, L"Process");
  EXPECT_EQ(p->parent, L"svc (x)");
  EXPECT_EQ(p->instance, L"child");
  EXPECT_EQ(p->index, 2u);

  p = parseCounterPath(L"\\Prozessor(*)\\Prozessorzeit (%)");  // local names hold parentheses too
  ASSERT_TRUE(p);
  EXPECT_EQ(p->object, L"Prozessor");
  EXPECT_EQ(p->counter, L"Prozessorzeit (%)");
  EXPECT_TRUE(p->wildcard());
}

TEST(CounterPath, MalformedPathsAreRefused) {
  for (const wchar_t* bad :
       {L"", L"Memory\\Available Bytes", L"\\Memory", L"\\Memory\\", L"\\\\Memory\\Available Bytes", L"\\\\\\M\\C",
        L"\\(x)\\C", L"\\Disk(\\C", L"\\Disk()\\C", L"\\Disk)x(\\C", L"\\Disk(a)b\\C", L"\\Disk(/a)\\C",
        L"\\Disk(a/)\\C", L"\\Disk(a#)\\C", L"\\Disk(a#x)\\C", L"\\Disk(#1)\\C", L"\\Disk(a#99999999999)\\C"})
    EXPECT_FALSE(parseCounterPath(bad)) << std::wstring(bad).size();
  std::wstring huge = L"\\Memory\\" + std::wstring(3000, L'x');
  EXPECT_FALSE(parseCounterPath(huge));
}

}  // namespace
