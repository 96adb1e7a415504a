// Tests of the per-process procfs parsers with literal kernel text, hostile names and cut-off files.
#include "pid_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace winapi_linux::procfs;

const std::string kStat =
    "7922 (cat) R 7911 7911 4555 0 -1 4194304 102 3 4 5 6 7 8 9 20 -5 3 0 79419 3133440 408 "
    "18446744073709551615 94832451612672 94832451632553 140729525354208 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";

TEST(PidStatParse, ReadsTheFieldsOfAKernelLine) {
  auto s = parsePidStat(kStat);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->pid, 7922u);
  EXPECT_EQ(s->comm, "cat");
  EXPECT_EQ(s->state, 'R');
  EXPECT_EQ(s->ppid, 7911);
  EXPECT_EQ(s->minflt, 102u);
  EXPECT_EQ(s->majflt, 4u);
  EXPECT_EQ(s->utime, 6u);
  EXPECT_EQ(s->stime, 7u);
  EXPECT_EQ(s->nice, -5);
  EXPECT_EQ(s->numThreads, 3);
  EXPECT_EQ(s->starttime, 79419u);
  EXPECT_EQ(s->vsize, 3133440u);
  EXPECT_EQ(s->rssPages, 408);
}

TEST(PidStatParse, NamesRunFromTheFirstOpeningToTheLastClosingParenthesis) {
  for (const std::string name : {"%n%s%x", "a) (b", "with space", "(", ")", "", ") S 1 2 3", "two\nlines"}) {
    const std::string text = "42 (" + name + ") S 1 42 42 0 -1 0 11 0 2 0 300 40 0 0 20 0 1 0 5000 1000 25 0\n";
    auto s = parsePidStat(text);  // comm is a view into text
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->comm, name);
    EXPECT_EQ(s->utime, 300u) << name;  // the fields after the name are not shifted
    EXPECT_EQ(s->starttime, 5000u) << name;
  }
}

TEST(PidStatParse, CutOffOrGarbledLinesNeverGiveOtherFigures) {
  auto full = parsePidStat(kStat);
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

TEST(PidStatusParse, ReadsOwnerAndMemoryAndNeverOtherFiguresWhenCutOff) {
  auto full = parsePidStatus(kStatus);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->realUid, 1000u);  // the real uid, not the effective one
  EXPECT_EQ(std::vector<std::optional<uint64_t>>({full->vmPeak, full->vmSize, full->vmHwm, full->vmRss, full->rssAnon,
                                                  full->rssFile, full->vmSwap, full->threads}),
            std::vector<std::optional<uint64_t>>({3060, 3056, 1728, 1724, 112, 1612, 48, 1}));
  for (size_t n = 0; n < kStatus.size(); ++n) {
    auto s = parsePidStatus(std::string_view(kStatus).substr(0, n));
    if (!s) continue;
    EXPECT_EQ(s->realUid, full->realUid) << n;
    for (auto field : {&PidStatus::vmRss, &PidStatus::rssAnon, &PidStatus::vmSwap, &PidStatus::threads})
      EXPECT_TRUE(!((*s).*field) || (*s).*field == (*full).*field) << n;
  }
}

TEST(PidStatusParse, KernelThreadsHaveNoMemoryLinesAndGarbageIsRejected) {
  auto kthread = parsePidStatus("Name:\tkthreadd\nUid:\t0\t0\t0\t0\nKthread:\t1\nThreads:\t1\n");
  ASSERT_TRUE(kthread);
  EXPECT_FALSE(kthread->rssAnon);
  EXPECT_FALSE(kthread->vmRss);
  for (const char* text :
       {"", "Name:\tx\nState:\tS\n", "Uid:\t1000\t1000\n", "Uid:\tabc\t0\t0\t0\n",
        "Uid:\t0\t0\t0\t0\nRssAnon:\t  zz kB\n", "Uid:\t0\t0\t0\t0\nVmSwap:\t 12\n", "Uid:\t0\t0\t0\t0\nThreads:\t4"})
    EXPECT_FALSE(parsePidStatus(text)) << text;
}

TEST(SessionIdParse, ReadsTheAuditValueAndMapsUnsetToSessionZero) {
  EXPECT_EQ(parseSessionId("4294967295"), 4294967295u);
  EXPECT_EQ(parseSessionId("3\n"), 3u);
  for (const char* bad : {"", "\n", "abc", "-1", "4294967296", "3 4"}) EXPECT_FALSE(parseSessionId(bad)) << bad;
  EXPECT_EQ(reportedSessionId(4294967295u), 0u);
  EXPECT_EQ(reportedSessionId(std::nullopt), 0u);
  EXPECT_EQ(reportedSessionId(7u), 7u);
}

}  // namespace
