// Tests of the counter-path parser.
#include <gtest/gtest.h>

#include "counter_path.h"

namespace {

using winapi_linux::perf::parseCounterPath;

TEST(CounterPath, PartsOfWellFormedPaths) {
  struct {
    const wchar_t* path;
    std::wstring machine, object, parent, instance;
    uint32_t index;
    std::wstring counter;
    bool hasInstance, wildcard;
  } cases[] = {
      {L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read", L"", L"PhysicalDisk", L"", L"_Total", 0, L"Avg. Disk sec/Read",
       true, false},
      {L"\\Memory\\Pages Input/sec", L"", L"Memory", L"", L"", 0, L"Pages Input/sec", false, false},
      {L"\\\\HOST\\Process(svc (x)/child#2)\\% Processor Time", L"HOST", L"Process", L"svc (x)", L"child", 2,
       L"% Processor Time", true, false},
      // Local names hold parentheses too.
      {L"\\Prozessor(*)\\Prozessorzeit (%)", L"", L"Prozessor", L"", L"*", 0, L"Prozessorzeit (%)", true, true},
  };
  for (const auto& c : cases) {
    auto p = parseCounterPath(c.path);
    ASSERT_TRUE(p) << std::wstring(c.path).size();
    EXPECT_EQ(std::tie(p->machine, p->object, p->parent, p->instance, p->index, p->counter, p->hasInstance),
              std::tie(c.machine, c.object, c.parent, c.instance, c.index, c.counter, c.hasInstance))
        << std::wstring(c.path).size();
    EXPECT_EQ(p->wildcard(), c.wildcard);
  }
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
