// Tests of the layer's pure parsers with literal text: system-wide procfs files (stat, meminfo,
// diskstats, net/dev, vmstat, loadavg, uptime), the choice of whole disks, utmp records, the
// per-process files with hostile names and cut-off text, and counter paths.
#include <gtest/gtest.h>
#include <utmp.h>

#include <cstring>
#include <string>

#include "pdh/counter_path.h"
#include "pdh/disk_instances.h"
#include "procfs/diskstats_parse.h"
#include "procfs/netdev_parse.h"
#include "procfs/pid_parse.h"
#include "procfs/procfs_parse.h"
#include "procfs/system_load_parse.h"
#include "procfs/utmp_parse.h"

namespace {

using namespace winapi_linux;
using namespace winapi_linux::procfs;
using winapi_linux::perf::parseCounterPath;

TEST(SystemStatParse, ProcessorLinesInOrderAndOldKernelsAndGarbledLinesLoseOnlyWhatIsMissing) {
  auto kernel = parseSystemStat(
      "cpu  6669 0 3200 159739 1034 0 57 122 0 0\n"
      "cpu0 2485 1 1338 81457 77 2 11 59 7 0\n"
      "cpu3 4183 3 1862 78282 956 4 46 62 0 0\n"
      "intr 313394 0 0 0 0 0 0 0 0 1\nctxt 695233\nbtime 1796538137\nprocesses 8148\n"
      "procs_running 2\nprocs_blocked 1\nsoftirq 132453 0 16309 4 5027 47425 0 2 35350 0 28336\n");
  ASSERT_TRUE(kernel);
  ASSERT_EQ(kernel->cpus.size(), 2u);  // not the aggregate line; cpu3 follows cpu0 (1, 2 offline)
  EXPECT_EQ(std::tie(kernel->cpus[0].steal, kernel->cpus[1].user), std::tuple(59u, 4183u));  // guest (7) is not steal
  auto old = parseSystemStat("cpu0 10 20 30 40\ncpu1 1 2 3 4 5 6 7\nbtime 17x\nctxt 5\n");
  ASSERT_TRUE(old);
  EXPECT_EQ(std::tie(old->cpus[0].idle, old->cpus[0].iowait, old->cpus[1].softirq), std::tuple(40u, 0u, 7u));
  EXPECT_FALSE(old->bootTime);
  EXPECT_EQ(old->contextSwitches, 5u);
  EXPECT_FALSE(parseSystemStat(""));
  EXPECT_FALSE(parseSystemStat("intr 1 2\nbtime 5\n"));  // no processor
  // Every processor line that would be lost or misread is counted; the rest of the file counts.
  for (const char* text : {"cpu0 10 20 x 40\n", "cpu0 10 20 30\n", "cpu0 -1 20 30 40\n",
                           "cpu0 99999999999999999999 0 0 0\n",  // beyond 64 bits
                           "cpu0 1 2 3 4\ncpu1 10 20 30 40 5",   // cut off: 5 may have been 50
                           "cpu0 1 2 3 4\ncpu1 10 20 30 40 5 6 7 8", "cpu0 1 2 3 4\ncpu1"}) {
    auto stat = parseSystemStat(text);
    ASSERT_TRUE(stat) << '"' << text << '"';
    EXPECT_EQ(stat->garbledProcessors, 1u) << '"' << text << '"';
  }
  auto stat = parseSystemStat("cpu0 1 2 3 4\ncpu1 1 x 3 4\nbtime 1700000000\n");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->cpus.size(), 1u);
  EXPECT_EQ(stat->bootTime, 1700000000u);
}

TEST(MeminfoParse, ReadsTheKnownFieldsWhereverTheyAreAndRefusesGarbledOnes) {
  auto m = parseMeminfo(
      "MemTotal:       24683784 kB\nMemFree:        24394048 kB\nMemAvailable:   24354128 kB\n"
      "Buffers:            1820 kB\nCached:           127656 kB\nSwapCached:            0 kB\n"
      "SwapTotal:       2097148 kB\nSwapFree:        2097000 kB\nCommitted_AS:     521320 kB\n"
      "HugePages_Total:       0\nUnknown: garbage\nCommitLimit:    14439040 kB");  // no line end needed
  ASSERT_TRUE(m);
  EXPECT_EQ(std::tie(m->cached, m->commitLimit), std::tuple(127656u, 14439040u));  // not SwapCached
  // Garbled or cut-off known fields are refused.
  for (const char* text : {"", "MemTotal:       abc kB\n", "MemTotal:       100\n", "MemTotal:       100 MB\n",
                           "MemTotal:       24683784 kB\nMemAvailable:   2435", "MemTotal: 99999999999999999999 kB\n",
                           "MemTotal: -5 kB\n"})
    EXPECT_FALSE(parseMeminfo(text)) << '"' << text << '"';
}

std::vector<std::string> names(const std::vector<DiskStat>& disks) {
  std::vector<std::string> out;
  for (const auto& d : disks) out.push_back(d.name);
  return out;
}

TEST(DiskstatsParse, ReadsEveryKernelLayoutSkipsBadLinesAndFindsTheWholeDisks) {
  const char text[] =
      "   8       0 sda 1000 20 8000 2000 500 30 4000 3000 1 5000 6000\n"                    // 11 figures
      "   8       1 sda1 900 0 7000 1800 400 0 3000 2000 0 4000 4500 0 0 0 0\n"              // 15
      " 259       0 nvme0n1 10 0 80 5 0 0 0 0 0 5 5 0 0 0 0 7 8\n"                           // 17
      "   8      16 sdb 1 2 3\n"                                                              // short
      "   8      32 sdc x 0 0 0 0 0 0 0 0 0 0\n"                                              // garbled
      "   8      48 sdd -1 0 0 0 0 0 0 0 0 0 0\n"                                             // a sign
      "   8      64 sde 99999999999999999999 0 0 0 0 0 0 0 0 0 0\n"                           // overflow
      "   8      80 sdf 1 0 0 0 0 0 0 0 0 0 1";                                               // cut off
  auto disks = parseDiskstats(text);
  ASSERT_EQ(names(disks), (std::vector<std::string>{"sda", "sda1", "nvme0n1"}));
  EXPECT_EQ(std::tie(disks[1].weightedMs, disks[2].weightedMs), std::tuple(4500u, 5u));  // the 11th figure
  EXPECT_TRUE(parseDiskstats("").empty());

  // Whole disks follow the kernel's partition names.
  std::vector<DiskStat> all;
  for (const char* n : {"sda", "sda1", "sda15", "sdaa", "sdaa2", "nvme0n1", "nvme0n1p1", "nvme0n10", "mmcblk0",
                        "mmcblk0p2", "mmcblk0boot0", "dm-1", "dm-10", "md0", "md0p1", "loop0", "ram1", "zram0", "sr0"})
    all.push_back({n});
  EXPECT_EQ(names(perf::wholeDisks(all)),
            (std::vector<std::string>{"sda", "sdaa", "nvme0n1", "nvme0n10", "mmcblk0", "mmcblk0boot0", "sr0"}));
  // A partition only counts as one beside its disk.
  EXPECT_EQ(names(perf::wholeDisks({{"sdb1"}})), (std::vector<std::string>{"sdb1"}));
}

TEST(NetDevParse, ReadsInterfacesAfterTheHeadings) {
  const char text[] =
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
      "carrier compressed\n"
      "    lo: 1234 12 0 0 0 0 0 0 1234 12 0 0 0 0 0 0\n"
      "  eth0:98765432109 100 1 2 3 4 5 6 555 50 0 0 0 0 0 0\n"  // an old kernel: no blank after ":"
      " wlan0: 1 2 3\n"
      "  bad x: 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
      "  tun0: 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1";  // cut off
  auto devices = parseNetDev(text);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(std::tie(devices[1].name, devices[1].rxBytes, devices[1].txPackets),
            std::tuple("eth0", 98765432109u, 50u));
}

TEST(SystemLoadParse, VmstatLoadavgAndUptime) {
  auto v = parseVmstat("nr_free_pages 100\npgpgin 5\npswpin 7\npswpout 8\npgfault 123456789012\npgfault 1\n");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->pgfault, 123456789012u);  // the first line of a name counts
  auto partial = parseVmstat("pswpin x\npgfault 3\n");
  ASSERT_TRUE(partial);
  EXPECT_FALSE(partial->pswpin);
  EXPECT_FALSE(parseVmstat(""));

  for (const char* bad : {"", "0.5 0.5 0.5\n", "0.5 0.5 0.5 3-467 1\n", "0.5 0.5 0.5 /467 1\n", "0.5 0.5 0.5 3/467"})
    EXPECT_FALSE(parseLoadavg(bad)) << bad;

  for (auto [text, hundredths] : {std::pair{"5.5 1\n", 550u}, {"7 1\n", 700u}, {"1.999 1\n", 199u}})
    EXPECT_EQ(parseUptime(text), hundredths) << text;
  for (const char* bad : {"", "x 1\n", "1. 1\n", "-1.00 1\n", "184467440737095516.15 1\n", "12.34"})
    EXPECT_FALSE(parseUptime(bad)) << bad;
}

std::string record(short type, pid_t pid, const char* line, const char* user) {
  struct utmp r {};
  r.ut_type = type;
  r.ut_pid = pid;
  std::strncpy(r.ut_line, line, sizeof r.ut_line);
  std::strncpy(r.ut_user, user, sizeof r.ut_user);
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST(UtmpParse, OnlyLoggedInUsersAndWholeRecords) {
  std::string longLine(sizeof(utmp::ut_line), 'x');  // fills the field without a NUL
  std::string data = record(BOOT_TIME, 0, "~", "reboot") + record(USER_PROCESS, 100, "tty1", "ann") +
                     record(DEAD_PROCESS, 101, "pts/0", "") + record(LOGIN_PROCESS, 102, "tty2", "LOGIN") +
                     record(USER_PROCESS, 0, "pts/3", "zero") + record(USER_PROCESS, 103, longLine.c_str(), "bob");
  data += record(USER_PROCESS, 104, "pts/9", "cut").substr(0, 100);
  auto logins = parseUtmp(data);
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(std::tie(logins[0].pid, logins[0].line, logins[0].user), std::tuple(100, "tty1", "ann"));
  EXPECT_EQ(logins[1].line, longLine);
  EXPECT_TRUE(parseUtmp("").empty());
}

const std::string kStat =
    "7922 (cat) R 7911 7911 4555 0 -1 4194304 102 3 4 5 6 7 8 9 20 -5 3 0 79419 3133440 408 "
    "18446744073709551615 94832451612672 94832451632553 140729525354208 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";

TEST(PidStatParse, NamesRunToTheLastClosingParenthesisAndCutOffOrGarbledLinesNeverGiveOtherFigures) {
  for (const std::string name : {"%n%s%x", "a) (b", "with space", "(", ")", "", ") S 1 2 3", "two\nlines"}) {
    const std::string text = "42 (" + name + ") S 1 42 42 0 -1 0 11 0 2 0 300 40 0 0 20 0 1 0 5000 1000 25 0\n";
    auto s = parsePidStat(text);  // comm is a view into text
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->comm, name);
    EXPECT_EQ(s->utime, 300u) << name;  // the fields after the name are not shifted
    EXPECT_EQ(s->starttime, 5000u) << name;
  }
  // A kernel's line; cut-off or garbled lines never give other figures.
  auto full = parsePidStat(kStat);
  ASSERT_TRUE(full);
  EXPECT_EQ(std::tie(full->nice, full->rssPages, full->flags), std::tuple(-5, 408, 4194304u));  // a signed field
  for (size_t n = 0; n < kStat.size(); ++n) {
    auto s = parsePidStat(std::string_view(kStat).substr(0, n));
    EXPECT_TRUE(!s ||
                std::tie(s->rssPages, s->vsize, s->starttime) == std::tie(full->rssPages, full->vsize, full->starttime))
        << n;
  }
  EXPECT_FALSE(parsePidStat(std::string_view(kStat).substr(0, 60)));
  const std::string tail = " 1 42 42 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 6 7 0\n";
  for (const std::string& text :
       {"42 (name S" + tail, "42 name) S" + tail, "x2 (name) S" + tail, "42 (name) SS" + tail, "42 (name)S" + tail,
        std::string("42 (n) S 1 42 42 0 -1 0 0 0 0 0 1x 1 0 0 20 0 1 0 5 6 7 0\n"),
        std::string("42 (n) S 1 42 42 0 -1 0 0 0 0 0 -1 1 0 0 20 0 1 0 5 6 7 0\n"),
        std::string("42 (n) S 1 42 42 0 -1 0 0 0 0 0 1 99999999999999999999 0 0 20 0 1 0 5 6 7 0\n"),
        std::string("42 (n) S 1 42 42 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5\n")})
    EXPECT_FALSE(parsePidStat(text)) << text;
}

const std::string kStatus =
    "Name:\tcat\nState:\tR (running)\nPid:\t8141\nPPid:\t8135\nUid:\t1000\t1001\t1002\t1003\nGid:\t0\t0\t0\t0\n"
    "Groups:\t \nVmPeak:\t    3060 kB\nVmSize:\t    3056 kB\nVmHWM:\t    1728 kB\nVmRSS:\t    1724 kB\n"
    "RssAnon:\t     112 kB\nRssFile:\t    1612 kB\nVmSwap:\t      48 kB\nThreads:\t1\nSigQ:\t0/96301\n";

TEST(PidStatusParse, CutOffTextNeverGivesOtherFiguresKernelThreadsHaveNoMemoryLinesAndSessionIds) {
  auto full = parsePidStatus(kStatus);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->realUid, 1000u);  // the real uid, not the effective one
  for (size_t n = 0; n < kStatus.size(); ++n) {
    auto s = parsePidStatus(std::string_view(kStatus).substr(0, n));
    if (!s) continue;
    EXPECT_EQ(s->realUid, full->realUid) << n;
    for (auto field : {&PidStatus::vmRss, &PidStatus::rssAnon, &PidStatus::vmSwap, &PidStatus::threads})
      EXPECT_TRUE(!((*s).*field) || (*s).*field == (*full).*field) << n;
  }
  // Kernel threads have no memory lines; garbage is rejected.
  auto kthread = parsePidStatus("Name:\tkthreadd\nUid:\t0\t0\t0\t0\nKthread:\t1\nThreads:\t1\n");
  ASSERT_TRUE(kthread);
  EXPECT_FALSE(kthread->rssAnon);
  EXPECT_FALSE(kthread->vmRss);
  for (const char* text :
       {"", "Name:\tx\nState:\tS\n", "Uid:\t1000\t1000\n", "Uid:\tabc\t0\t0\t0\n",
        "Uid:\t0\t0\t0\t0\nRssAnon:\t  zz kB\n", "Uid:\t0\t0\t0\t0\nVmSwap:\t 12\n", "Uid:\t0\t0\t0\t0\nThreads:\t4"})
    EXPECT_FALSE(parsePidStatus(text)) << text;
  // The audit session id.
  EXPECT_EQ(parseSessionId("3\n"), 3u);
  for (const char* bad : {"", "\n", "abc", "-1", "4294967296", "3 4"}) EXPECT_FALSE(parseSessionId(bad)) << bad;
}

TEST(CounterPath, PartsOfWellFormedPathsAndMalformedOnesRefused) {
  struct {
    const wchar_t* path;
    std::wstring machine, object, parent, instance;
    uint32_t index;
    std::wstring counter;
    bool hasInstance, wildcard;
  } cases[] = {
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
  for (const wchar_t* bad :
       {L"", L"Memory\\Available Bytes", L"\\Memory", L"\\Memory\\", L"\\\\Memory\\Available Bytes", L"\\\\\\M\\C",
        L"\\(x)\\C", L"\\Disk(\\C", L"\\Disk()\\C", L"\\Disk)x(\\C", L"\\Disk(a)b\\C", L"\\Disk(/a)\\C",
        L"\\Disk(a/)\\C", L"\\Disk(a#)\\C", L"\\Disk(a#x)\\C", L"\\Disk(#1)\\C", L"\\Disk(a#99999999999)\\C"})
    EXPECT_FALSE(parseCounterPath(bad)) << std::wstring(bad).size();
  std::wstring huge = L"\\Memory\\" + std::wstring(3000, L'x');
  EXPECT_FALSE(parseCounterPath(huge));
}

}  // namespace
