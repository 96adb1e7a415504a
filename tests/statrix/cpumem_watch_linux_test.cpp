// The CPU, memory and process watch on the Linux layer: fixture procfs trees changed between
// manual ticks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "process/process_owner.h"
#include "statrix/cpumem_watch_env.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::FakeCpu;
using watch_test::Event;

class WatchTest : public watch_test::WatchFixture {
 protected:
  void SetUp() override {
    WatchFixture::SetUp();
    tree_.setCpus({FakeCpu{1000, 0, 500, 8000}, FakeCpu{1200, 0, 400, 7900}});
    tree_.setMeminfo(16777216, 8388608);  // 16 GiB, load 50
    tree_.addProcess({100, "init", 50, 20, 10, 1024, 0, 4294967295u, 0});  // session never set: 0
    tree_.addProcess({200, "editor", 300, 40, 5000, 2048, 512, 2, 1000});
    tree_.activate();
  }

  statrix_test::FixtureTree tree_;
};

TEST_F(WatchTest, MemoryAlarmsAtItsThresholdAndAZeroThresholdKeepsTheAlarm) {
  tree_.setMeminfo(10000000, 1000000);  // load 90
  startWatch();
  EXPECT_TRUE(tick());
  ASSERT_EQ(recorder_.count(Event::Broadcast, L"MEMORY-ALARM"), 1u);
  EXPECT_EQ(recorder_.of(Event::Broadcast).back().bag.get(L"MEMORY_PERCENTAGE").str(), L"90");
  changeSetting(L"AlarmIntervalSeconds", L"1");  // floored at 5 s
  EXPECT_EQ(recorder_.periods().back(), 5000u);
  changeSetting(L"AlarmIntervalSeconds", L"60");  // the sampling interval is shorter
  EXPECT_EQ(recorder_.periods().back(), 30000u);

  // Threshold 0: no evaluation, but the flag (and with it the alarm period) stays.
  changeSetting(L"OverallMemoryPercentage", L"0");
  tree_.setMeminfo(10000000, 1100000);  // load 89
  EXPECT_TRUE(tick());
  EXPECT_TRUE(state_.memAlarm());
  changeSetting(L"OverallMemoryPercentage", L"90");
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.writes(L"MemoryPercentage").back(), L"89");
  EXPECT_FALSE(state_.memAlarm());
  EXPECT_EQ(recorder_.count(Event::Broadcast, L"MEMORY-ALARM"), 1u);
}

TEST_F(WatchTest, AllFourThresholdsZeroSkipThePass) {
  for (const wchar_t* name : {L"OverallCpuPercentage", L"OverallMemoryPercentage", L"ProcessCpuPercentage"})
    setSetting(name, L"0");
  startWatch();
  recorder_.clear();
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"TimerCallback for CpuAndMemWatch skipped, nothing to do."), 1u);
  EXPECT_EQ(recorder_.count(Event::RegWrite), 0u);
  EXPECT_EQ(state_.processes().size(), 0u);
  ASSERT_EQ(recorder_.count(Event::Message, L"HelpdeskOperation"), 1u);  // sent all the same
  EXPECT_EQ(recorder_.of(Event::Message)[0].bag.getInt64(L"overall_mem", -1), 0);
}

TEST_F(WatchTest, IntervalsAreFlooredAtFiveSecondsAndClampedToADayWithAWarning) {
  const auto warnings = [&](const std::wstring& prefix) {
    return recorder_.count([&](const Event& e) { return e.level == CORE::Warn && e.text.starts_with(prefix); });
  };
  // Read at start: a value that cannot be read costs only itself, and is named once.
  const auto settings = watch_test::temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Alarms";
  setSetting(L"SamplingIntervalSeconds", L"6");
  setSetting(L"AlarmIntervalSeconds", L"-5");
  std::ofstream(settings / "Notes") << "dword:12x\n";
  startWatch();
  EXPECT_EQ(recorder_.periods().back(), 6000u);
  EXPECT_EQ(warnings(L"AlarmIntervalSeconds \"-5\" is negative"), 1u);
  EXPECT_EQ(warnings(L"configuration HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms: value Notes"), 1u);

  // Changed while running: no product wraps; beyond one day the day is used.
  const std::tuple<const wchar_t*, uint32_t, bool> cases[] = {
      {L"0", 5000, false},      {L"5", 5000, false},          {L"6", 6000, false},
      {L"-1", 5000, true},      {L"86400", 86400000, false},  {L"86401", 86400000, true},
      {L"4294967296", 86400000, true}, {L"99999999999999999999", 86400000, true}, {L"30", 30000, false},
  };
  for (const auto& [seconds, period, warned] : cases) {
    recorder_.clear();
    changeSetting(L"SamplingIntervalSeconds", seconds);
    EXPECT_EQ(recorder_.periods().back(), period) << "SamplingIntervalSeconds=" << seconds;
    EXPECT_EQ(warnings(L"SamplingIntervalSeconds"), warned ? 1u : 0u) << "SamplingIntervalSeconds=" << seconds;
  }
  EXPECT_EQ(warnings(L"configuration"), 0u);  // the unreadable value is not named again
}

TEST_F(WatchTest, AnOwnerWithoutAnAccountIsSystemAndTheFailedLookupTraced) {
  tree_.addProcess({.pid = 300, .comm = "orphan", .uid = 3999999999u});  // no account has this uid
  recorder_.clear();
  EXPECT_EQ(processOwner(300).str(), L"SYSTEM");
  EXPECT_EQ(recorder_.count([](const Event& e) {
              return e.level == CORE::Trace && e.text.starts_with(L"LookupAccountSid() failed: ");
            }),
            1u);
  EXPECT_TRUE(recorder_.lines(CORE::Debug).empty());
}

TEST_F(WatchTest, ExceptionInAPassDisablesTheWatchUntilTheNextReschedule) {
  WatchState::setWalkHookForTesting([] { throw std::runtime_error("injected walk failure"); });
  startWatch();
  EXPECT_TRUE(tick());  // a failed pass still reports success, and the message still goes out
  EXPECT_EQ(recorder_.count(Event::Log, L"EXCEPTION IN CpuAndMemWatch"), 1u);
  EXPECT_EQ(recorder_.count(Event::Message), 1u);
  ASSERT_TRUE(state_.lock().try_lock()) << "the pass left its lock held";
  state_.lock().unlock();

  WatchState::setWalkHookForTesting(nullptr);
  EXPECT_FALSE(tick());
  EXPECT_EQ(recorder_.count(Event::Message), 1u);

  changeSetting(L"samplingintervalseconds", L"20");  // the name matches in any case
  EXPECT_EQ(recorder_.periods().back(), 20000u);
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Message), 2u);
  EXPECT_EQ(recorder_.count(Event::Log, L"Physical memory use: 50%"), 1u);
}

TEST_F(WatchTest, EveryProcessorOfEveryGroupCounts) {
  // 200 processors: four groups of up to 64, and more than the 128 a stack buffer holds.
  std::vector<FakeCpu> cpus(200, FakeCpu{0, 0, 0, 1000});
  tree_.setCpus(cpus);
  tree_.addProcess({300, "busy", 0, 0, 7000, 4096, 0, 3, 1000});
  startWatch();
  EXPECT_TRUE(tick());

  // Processors 128..199 busy, the rest idle: 72 of 200 processors' time.
  for (size_t i = 0; i < cpus.size(); ++i) (i < 128 ? cpus[i].idle : cpus[i].user) += 100;
  tree_.setCpus(cpus);
  tree_.addProcess({300, "busy", 5000, 0, 7000, 4096, 0, 3, 1000});  // a quarter of 200 x 100 ticks
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"System CPU use: 36%"), 1u);
  ASSERT_NE(state_.processes().find(300), nullptr);
  EXPECT_EQ(state_.processes().find(300)->cpuPercent, 25.0f);
}

constexpr uint32_t kUnknownUid = 3999999;  // no account has it

class ProcessWatchTest : public watch_test::WatchFixture {
 protected:
  void SetUp() override {
    WatchFixture::SetUp();
    tree_.setCpus({cpu_});
    tree_.setMeminfo(1000000, 500000, 100000, 50000);  // load 50, 50000 kB of swap in use
    tree_.addProcess({100, "init", 50, 20, 10, 1000, 0, 4294967295u, 0});
    tree_.addProcess({200, "editor.bin", 300, 40, 5000, 200000, 50000, 2, 0});
    tree_.addProcess({300, "hog", 100, 0, 6000, 100000, 0, 3, kUnknownUid});
    tree_.activate();
  }

  statrix_test::FixtureTree tree_;
  FakeCpu cpu_{1000, 0, 0, 8000};
};

TEST_F(ProcessWatchTest, AlarmsListsAndSessionFiguresFollowTheTickDeltasExactly) {
  setSetting(L"ProcessCpuPercentage", L"15");
  setSetting(L"ProcessNameList", L" !editor , *");  // editor's 20 % raises no alarm
  startWatch();
  EXPECT_TRUE(tick());  // every process is new: no shares, no alarms
  EXPECT_EQ(recorder_.count(Event::Broadcast), 0u);

  // 1000 ticks pass, 950 of them busy (95 %): hog uses 600 (60 %), editor 200 (20 %), and
  // "newborn" starts in between.
  recorder_.clear();
  cpu_.user += 950;
  cpu_.idle += 50;
  tree_.setCpus({cpu_});
  tree_.addProcess({300, "hog", 700, 0, 6000, 100000, 0, 3, kUnknownUid});
  tree_.addProcess({200, "editor.bin", 400, 140, 5000, 200000, 50000, 2, 0});
  tree_.addProcess({400, "newborn", 30, 0, 9000, 0, 0, 2, 0});
  EXPECT_TRUE(tick());

  // "host\root": the owner text of a process of uid 0 (NSS name, the host name as domain).
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::wstring root = CORE::corestring::fromUtf8(host).str() + L"\\root";
  EXPECT_EQ(recorder_.lines(),
            (std::vector<std::wstring>{
                L"PROCESS_ALARM_CPU: pid=300, sessionId=3, name=hog, user=SYSTEM, percent=60",
                L"CPU-ALARM: cpu use = 95%",
                L"High CPU use: pid=300, sessionId=3, name=hog, user=SYSTEM, percent=60.0",
                L"High CPU use: pid=200, sessionId=2, name=editor, user=" + root + L", percent=20.0",
                L"Missing CPU use: 15.0%; listing new processes",
                L"Missing CPU use: pid=400, sessionId=2, name=newborn, user=" + root + L", percent=N/A",
            }));
  std::vector<std::wstring> broadcasts;
  for (const Event& e : recorder_.of(Event::Broadcast)) broadcasts.push_back(e.text);
  // The consumer list goes out before the overall alarm's own broadcast.
  EXPECT_EQ(broadcasts, (std::vector<std::wstring>{L"PROCESS-ALARM", L"PROCESS-LIST", L"CPU-ALARM"}));

  // Session 2: editor's 200 ticks of 1000; session 3: hog's 600. Private bytes (RssAnon +
  // VmSwap) of 1000000 kB: editor 250000 kB. Session 0 has no figures.
  std::vector<std::wstring> figures;
  const CORE::PropertyBag message = recorder_.of(Event::Message).back().bag;
  for (size_t i = 0; i < message.size(); ++i) {
    const std::wstring name = message.getName(i).str();
    if (name != L"sessionCpuMetric" && name != L"sessionMemMetric") continue;
    const CORE::PropertyBag bag = message.bagAt(i);
    const int64_t value = bag.getInt64(name == L"sessionCpuMetric" ? L"cpu" : L"mem", -1);
    figures.push_back(std::to_wstring(bag.getInt(L"sessionId")) + L":" + std::to_wstring(value));
  }
  EXPECT_EQ(figures, (std::vector<std::wstring>{L"2:20", L"3:60", L"2:25", L"3:10"}));
}

}  // namespace
