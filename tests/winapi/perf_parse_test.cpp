// Tests of the pure parsers behind the PDH counters: diskstats, net/dev, vmstat, loadavg,
// uptime, the choice of whole disks, and utmp records.
#include <gtest/gtest.h>
#include <utmp.h>

#include <cstring>

#include "disk_instances.h"
#include "diskstats_parse.h"
#include "netdev_parse.h"
#include "system_load_parse.h"
#include "utmp_parse.h"

namespace {

using namespace winapi_linux;
using namespace winapi_linux::procfs;

std::vector<std::string> names(const std::vector<DiskStat>& disks) {
  std::vector<std::string> out;
  for (const auto& d : disks) out.push_back(d.name);
  return out;
}

TEST(DiskstatsParse, ReadsEveryKernelLayoutAndSkipsBadLines) {
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
  const DiskStat& d = disks[0];
  EXPECT_EQ(d.reads, 1000u);
  EXPECT_EQ(d.sectorsRead, 8000u);
  EXPECT_EQ(d.msReading, 2000u);
  EXPECT_EQ(d.writes, 500u);
  EXPECT_EQ(d.sectorsWritten, 4000u);
  EXPECT_EQ(d.msWriting, 3000u);
  EXPECT_EQ(d.inProgress, 1u);
  EXPECT_EQ(d.msDoingIo, 5000u);
  EXPECT_EQ(d.weightedMs, 6000u);
  EXPECT_TRUE(parseDiskstats("").empty());
}

TEST(DiskInstances, WholeDisksFollowTheKernelsPartitionNames) {
  std::vector<DiskStat> all;
  for (const char* n : {"sda", "sda1", "sda15", "sdaa", "sdaa2", "nvme0n1", "nvme0n1p1", "nvme0n10", "mmcblk0",
                        "mmcblk0p2", "mmcblk0boot0", "dm-1", "dm-10", "md0", "md0p1", "loop0", "ram1", "zram0", "sr0"})
    all.push_back({n});
  EXPECT_EQ(names(perf::wholeDisks(all)),
            (std::vector<std::string>{"sda", "sdaa", "nvme0n1", "nvme0n10", "mmcblk0", "mmcblk0boot0", "dm-1",
                                      "dm-10", "md0", "sr0"}));
  // A partition only counts as one beside its disk.
  EXPECT_EQ(names(perf::wholeDisks({{"sdb1"}})), (std::vector<std::string>{"sdb1"}));

  DiskStat total = perf::diskTotal({{"a", 1, 2, 3, 4, 5, 6, 7, 8, 9}, {"b", 10, 20, 30, 40, 50, 60, 70, 80, 90}});
  EXPECT_EQ(total.name, "_Total");
  EXPECT_EQ(total.reads, 11u);
  EXPECT_EQ(total.msDoingIo, 88u);
  EXPECT_EQ(total.weightedMs, 99u);
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
  EXPECT_EQ(devices[0].name, "lo");
  EXPECT_EQ(devices[1].name, "eth0");
  EXPECT_EQ(devices[1].rxBytes, 98765432109u);
  EXPECT_EQ(devices[1].rxPackets, 100u);
  EXPECT_EQ(devices[1].txBytes, 555u);
  EXPECT_EQ(devices[1].txPackets, 50u);
}

TEST(SystemLoadParse, VmstatLoadavgAndUptime) {
  auto v = parseVmstat("nr_free_pages 100\npgpgin 5\npswpin 7\npswpout 8\npgfault 123456789012\npgfault 1\n");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->pswpin, 7u);
  EXPECT_EQ(v->pswpout, 8u);
  EXPECT_EQ(v->pgfault, 123456789012u);  // the first line of a name counts
  auto partial = parseVmstat("pswpin x\npgfault 3\n");
  ASSERT_TRUE(partial);
  EXPECT_FALSE(partial->pswpin);
  EXPECT_FALSE(parseVmstat(""));

  auto l = parseLoadavg("0.52 0.58 0.59 3/467 12345\n");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->running, 3u);
  EXPECT_EQ(l->total, 467u);
  for (const char* bad : {"", "0.5 0.5 0.5\n", "0.5 0.5 0.5 3-467 1\n", "0.5 0.5 0.5 /467 1\n", "0.5 0.5 0.5 3/467"})
    EXPECT_FALSE(parseLoadavg(bad)) << bad;

  EXPECT_EQ(parseUptime("12345.67 54321.00\n"), 1234567u);
  EXPECT_EQ(parseUptime("5.5 1\n"), 550u);
  EXPECT_EQ(parseUptime("7 1\n"), 700u);
  EXPECT_EQ(parseUptime("1.999 1\n"), 199u);
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
  EXPECT_EQ(logins[0].pid, 100);
  EXPECT_EQ(logins[0].line, "tty1");
  EXPECT_EQ(logins[0].user, "ann");
  EXPECT_EQ(logins[1].line, longLine);
  EXPECT_TRUE(parseUtmp("").empty());
}

}  // namespace
