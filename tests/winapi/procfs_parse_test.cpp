// Tests of the system-wide procfs parsers (`stat`, `meminfo`) with literal kernel text.
#include "procfs_parse.h"

#include <gtest/gtest.h>

namespace {

using winapi_linux::procfs::parseMeminfo;
using winapi_linux::procfs::parseSystemStat;

TEST(SystemStatParse, ReadsProcessorLinesInOrderAndTheCounters) {
  auto stat = parseSystemStat(
      "cpu  6669 0 3200 159739 1034 0 57 122 0 0\n"
      "cpu0 2485 1 1338 81457 77 2 11 59 7 0\n"
      "cpu3 4183 3 1862 78282 956 4 46 62 0 0\n"
      "intr 313394 0 0 0 0 0 0 0 0 1\nctxt 695233\nbtime 1796538137\nprocesses 8148\n"
      "procs_running 2\nprocs_blocked 1\nsoftirq 132453 0 16309 4 5027 47425 0 2 35350 0 28336\n");
  ASSERT_TRUE(stat);
  ASSERT_EQ(stat->cpus.size(), 2u);  // not the aggregate line; cpu3 follows cpu0 (1, 2 offline)
  const auto& c = stat->cpus[0];
  EXPECT_EQ(std::vector<uint64_t>({c.user, c.nice, c.system, c.idle, c.iowait, c.irq, c.softirq, c.steal}),
            std::vector<uint64_t>({2485, 1, 1338, 81457, 77, 2, 11, 59}));  // guest (7) is not steal
  EXPECT_EQ(stat->cpus[1].user, 4183u);
  EXPECT_EQ(stat->bootTime, 1796538137u);
  EXPECT_EQ(stat->contextSwitches, 695233u);
  EXPECT_EQ(stat->processesCreated, 8148u);
  EXPECT_EQ(stat->procsRunning, 2u);
  EXPECT_EQ(stat->procsBlocked, 1u);
}

TEST(SystemStatParse, OldKernelsAndGarbledCounterLinesLoseOnlyWhatIsMissing) {
  auto stat = parseSystemStat("cpu0 10 20 30 40\ncpu1 1 2 3 4 5 6 7\nbtime 17x\nctxt 5\n");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->cpus[0].idle, 40u);
  EXPECT_EQ(stat->cpus[0].iowait, 0u);
  EXPECT_EQ(stat->cpus[1].softirq, 7u);
  EXPECT_FALSE(stat->bootTime);
  EXPECT_EQ(stat->contextSwitches, 5u);
}

TEST(SystemStatParse, CountsEveryProcessorLineThatWouldBeLostOrMisread) {
  EXPECT_FALSE(parseSystemStat(""));
  EXPECT_FALSE(parseSystemStat("intr 1 2\nbtime 5\n"));  // no processor
  for (const char* text : {"cpu0 10 20 x 40\n", "cpu0 10 20 30\n", "cpu0 -1 20 30 40\n",
                           "cpu0 99999999999999999999 0 0 0\n",  // beyond 64 bits
                           "cpu0 1 2 3 4\ncpu1 10 20 30 40 5",   // cut off: 5 may have been 50
                           "cpu0 1 2 3 4\ncpu1 10 20 30 40 5 6 7 8", "cpu0 1 2 3 4\ncpu1"}) {
    auto stat = parseSystemStat(text);
    ASSERT_TRUE(stat) << '"' << text << '"';
    EXPECT_EQ(stat->garbledProcessors, 1u) << '"' << text << '"';
  }
  // The rest of the file still counts: the boot time is the snapshot's.
  auto stat = parseSystemStat("cpu0 1 2 3 4\ncpu1 1 x 3 4\nbtime 1700000000\n");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->cpus.size(), 1u);
  EXPECT_EQ(stat->bootTime, 1700000000u);
}

TEST(MeminfoParse, ReadsTheKnownFieldsWhereverTheyAre) {
  auto m = parseMeminfo(
      "MemTotal:       24683784 kB\nMemFree:        24394048 kB\nMemAvailable:   24354128 kB\n"
      "Buffers:            1820 kB\nCached:           127656 kB\nSwapCached:            0 kB\n"
      "SwapTotal:       2097148 kB\nSwapFree:        2097000 kB\nCommitLimit:    14439040 kB\n"
      "Committed_AS:     521320 kB\nHugePages_Total:       0\nUnknown: garbage\nDirectMap1G: 1 kB");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->memTotal, 24683784u);
  EXPECT_EQ(m->memFree, 24394048u);
  EXPECT_EQ(m->memAvailable, 24354128u);
  EXPECT_EQ(m->buffers, 1820u);
  EXPECT_EQ(m->cached, 127656u);  // not SwapCached
  EXPECT_EQ(m->swapTotal, 2097148u);
  EXPECT_EQ(m->swapFree, 2097000u);
  EXPECT_EQ(m->commitLimit, 14439040u);
  EXPECT_EQ(m->committedAs, 521320u);
  auto partial = parseMeminfo("MemTotal: 100 kB");  // no line end needed after the unit
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->memTotal, 100u);
  EXPECT_FALSE(partial->memAvailable);
}

TEST(MeminfoParse, RejectsGarbledOrCutOffKnownFields) {
  for (const char* text : {"", "MemTotal:       abc kB\n", "MemTotal:       100\n", "MemTotal:       100 MB\n",
                           "MemTotal:       24683784 kB\nMemAvailable:   2435", "MemTotal: 99999999999999999999 kB\n",
                           "MemTotal: -5 kB\n"})
    EXPECT_FALSE(parseMeminfo(text)) << '"' << text << '"';
}

}  // namespace
