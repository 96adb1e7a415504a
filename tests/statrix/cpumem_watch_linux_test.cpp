// The CPU and memory watch on the Linux layer: fixture procfs trees changed between manual ticks.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cpumem/perfmon_scheduler.h"
#include "cpumem/watch_state.h"
#include "statrix/cpumem_watch_env.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::FakeCpu;
using watch_test::Event;

const std::wstring kSettings = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";

class WatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watch_test::temporaryRegistry();
    CORE::setManualTimers(true);
  }

  void SetUp() override {
    std::filesystem::remove_all(watch_test::temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Alarms");
    cpus_ = {FakeCpu{1000, 0, 500, 8000}, FakeCpu{1200, 0, 400, 7900}};
    tree_.setCpus(cpus_);
    tree_.setMeminfo(16777216, 8388608);  // 16 GiB, load 50
    tree_.addProcess({100, "init", 50, 20, 10, 1024, 0, 4294967295u, 0});  // session never set: 0
    tree_.addProcess({200, "editor", 300, 40, 5000, 2048, 512, 2, 1000});
    tree_.activate();
    ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &watch_test::Recorder::sink));
  }

  void TearDown() override {
    if (watch_ != nullptr) {
      watch_->stop();
      watch_->Release();
    }
    WatchState::setWalkHookForTesting(nullptr);
    CORE::removeSinkWorker(L"AgentHelpDesk");
  }

  static void setSetting(const std::wstring& name, const wchar_t* text) {
    ASSERT_TRUE(CORE::registryWrite(kSettings + name, {1, text, {}}));
  }
  // A setting changed while the watch runs, delivered before this returns.
  static void changeSetting(const std::wstring& name, const wchar_t* text) {
    setSetting(name, text);
    CORE::syncConfiguration();
  }
  void startWatch() {
    recorder_.clear();
    watch_ = new PerfmonScheduler();
    watch_->start();
  }
  bool tick() {
    const std::vector<bool> results = CORE::tickTimers();
    return results.size() == 1 && results[0];
  }
  // Adds clock ticks to processor 0: the next pass's CPU figure is busy / (busy + idle).
  void advanceCpu(uint64_t busy, uint64_t idle) {
    cpus_[0].user += busy;
    cpus_[0].idle += idle;
    tree_.setCpus(cpus_);
  }

  statrix_test::FixtureTree tree_;
  std::vector<FakeCpu> cpus_;
  watch_test::Recorder recorder_;
  PerfmonScheduler* watch_ = nullptr;
  WatchState& state_ = WatchState::instance();
};

TEST_F(WatchTest, SecondPassEvaluatesCpuAndTheAlarmPeriodLastsWhileTheAlarmHolds) {
  startWatch();
  EXPECT_EQ(recorder_.writes(L"CpuPercentage"), std::vector<std::wstring>{L"0"});  // zeroed at start
  EXPECT_TRUE(tick());  // totals stored, no CPU figure
  EXPECT_EQ(recorder_.count(Event::Log, L"System CPU use"), 0u);
  advanceCpu(723, 77);  // 90.375 %, rounded 91: above 90
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"CPU-ALARM: cpu use = 91%"), 1u);
  advanceCpu(723, 77);  // the alarm repeats; the period stays
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Broadcast, L"CPU-ALARM"), 2u);
  EXPECT_EQ(recorder_.periods(), (std::vector<uint32_t>{30000, 15000}));

  advanceCpu(361, 39);  // 90.25 %, rounded 90: not above 90, the alarm ends
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.writes(L"CpuPercentage").back(), L"90");
  EXPECT_EQ(recorder_.count(Event::Broadcast, L"CPU-ALARM"), 2u);
  EXPECT_EQ(recorder_.periods(), (std::vector<uint32_t>{30000, 15000, 30000}));
}

TEST_F(WatchTest, MemoryAlarmsAtItsThresholdAndAZeroThresholdKeepsTheAlarm) {
  tree_.setMeminfo(10000000, 1000000);  // load 90
  startWatch();
  EXPECT_TRUE(tick());
  ASSERT_EQ(recorder_.count(Event::Broadcast, L"MEMORY-ALARM"), 1u);
  EXPECT_EQ(recorder_.of(Event::Broadcast).back().bag.get(L"MEMORY_PERCENTAGE").str(), L"90");
  EXPECT_EQ(recorder_.periods().back(), 15000u);

  changeSetting(L"AlarmIntervalSeconds", L"1");  // floored at 5 s
  EXPECT_EQ(recorder_.periods().back(), 5000u);
  changeSetting(L"AlarmIntervalSeconds", L"60");  // the sampling interval is shorter
  EXPECT_EQ(recorder_.periods().back(), 30000u);

  // Threshold 0: no evaluation, but the flag (and with it the alarm period) stays.
  changeSetting(L"OverallMemoryPercentage", L"0");
  tree_.setMeminfo(10000000, 1100000);  // load 89
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"Physical memory use"), 1u);
  EXPECT_TRUE(state_.memAlarm());

  changeSetting(L"OverallMemoryPercentage", L"90");
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.writes(L"MemoryPercentage").back(), L"89");
  EXPECT_FALSE(state_.memAlarm());
  EXPECT_EQ(recorder_.count(Event::Broadcast, L"MEMORY-ALARM"), 1u);
}

TEST_F(WatchTest, ZeroThresholdsSkipTheirEvaluationsAndAllFourSkipThePass) {
  setSetting(L"OverallCpuPercentage", L"0");
  setSetting(L"OverallMemoryPercentage", L"0");
  setSetting(L"ProcessCpuPercentage", L"50");
  startWatch();
  recorder_.clear();
  EXPECT_TRUE(tick());
  advanceCpu(500, 500);
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::RegWrite), 0u);
  EXPECT_EQ(recorder_.count(Event::Log, L"System CPU use"), 0u);
  EXPECT_EQ(state_.processes().size(), 2u);    // the walk still runs
  EXPECT_EQ(state_.getTotalMemory(), 17179);  // 16 GiB in units of 10^6 bytes

  watch_->stop();
  watch_->Release();
  setSetting(L"ProcessCpuPercentage", L"0");
  startWatch();
  recorder_.clear();
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"TimerCallback for CpuAndMemWatch skipped, nothing to do."), 1u);
  EXPECT_EQ(recorder_.count(Event::RegWrite), 0u);
  EXPECT_EQ(state_.processes().size(), 0u);
  ASSERT_EQ(recorder_.count(Event::Message, L"HelpdeskOperation"), 1u);  // sent all the same
  EXPECT_EQ(recorder_.of(Event::Message)[0].bag.getInt64(L"overall_mem", -1), 0);
}

TEST_F(WatchTest, StopZeroesThePublishedFiguresButKeepsTheMemorySizes) {
  startWatch();
  EXPECT_TRUE(tick());
  advanceCpu(500, 500);
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.writes(L"CpuPercentage").back(), L"50");
  watch_->stop();
  EXPECT_EQ(recorder_.writes(L"CpuPercentage").back(), L"0");
  EXPECT_EQ(recorder_.writes(L"MemoryPercentage").back(), L"0");
  EXPECT_EQ(CORE::registryRead(L"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\CpuPercentage")->text.str(), L"0");
  EXPECT_EQ(state_.getCpu(), 0);
  EXPECT_EQ(state_.getMem(), 0);
  EXPECT_EQ(state_.getFreeMemory(), 8589);
}

TEST_F(WatchTest, IntervalSettingsSetThePeriod) {
  startWatch();
  const std::pair<const wchar_t*, uint32_t> cases[] = {
      {L"0", 5000}, {L"5", 5000}, {L"6", 6000}, {L"-1", 4294966296u}, {L"30", 30000}};
  for (const auto& [seconds, period] : cases) {
    changeSetting(L"SamplingIntervalSeconds", seconds);
    EXPECT_EQ(recorder_.periods().back(), period) << "SamplingIntervalSeconds=" << seconds;
  }
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
  cpus_.assign(200, FakeCpu{0, 0, 0, 1000});
  tree_.setCpus(cpus_);
  tree_.addProcess({300, "busy", 0, 0, 7000, 4096, 0, 3, 1000});
  startWatch();
  EXPECT_TRUE(tick());

  // Processors 128..199 busy, the rest idle: 72 of 200 processors' time.
  for (size_t i = 0; i < cpus_.size(); ++i) (i < 128 ? cpus_[i].idle : cpus_[i].user) += 100;
  tree_.setCpus(cpus_);
  tree_.addProcess({300, "busy", 5000, 0, 7000, 4096, 0, 3, 1000});  // a quarter of 200 x 100 ticks
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"System CPU use: 36%"), 1u);
  ASSERT_NE(state_.processes().find(300), nullptr);
  EXPECT_EQ(state_.processes().find(300)->cpuPercent, 25.0f);
}

}  // namespace
