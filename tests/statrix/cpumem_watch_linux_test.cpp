// The CPU and memory watch end to end on the Linux layer: fixture procfs trees changed between
// manual timer ticks, a private registry, and the host's record of what the watch did.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cpumem/perfmon_scheduler.h"
#include "cpumem/watch_state.h"
#include "statrix/cpumem_watch_env.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::FakeCpu;
using statrix_test::FixtureTree;
using watch_test::Recorder;

const std::wstring kSettings = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";
const std::wstring kStats = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\";
constexpr uint32_t kNeverSetSession = 4294967295u;

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
    tree_.setMeminfo(16777216, 8388608);  // 16 GiB, half of it available: load 50
    tree_.addProcess({100, "init", 50, 20, 10, 1024, 0, kNeverSetSession, 0});
    tree_.addProcess({200, "editor", 300, 40, 5000, 2048, 512, 2, 1000});
    tree_.activate();
  }

  void TearDown() override {
    if (watch_ != nullptr) {
      watch_->stop();
      watch_->Release();
    }
    WatchState::setWalkHookForTesting(nullptr);
    CORE::removeSinkWorker(L"AgentHelpDesk");
  }

  // A setting written before the watch starts.
  static void setSetting(const std::wstring& name, const wchar_t* text) {
    ASSERT_TRUE(CORE::registryWrite(kSettings + name, {1, text, {}}));
  }
  // A setting changed while the watch runs, as an outside writer would, delivered at once.
  static void changeSetting(const std::wstring& name, const wchar_t* text) {
    setSetting(name, text);
    CORE::syncConfiguration();
  }

  void startWatch() {
    watch_ = new PerfmonScheduler();
    watch_->start();
  }
  bool tick() {
    const std::vector<bool> results = CORE::tickTimers();
    EXPECT_EQ(results.size(), 1u);
    return !results.empty() && results[0];
  }
  // Adds busy and idle clock ticks to processor 0: the next pass's CPU figure is
  // busy / (busy + idle) of the added time.
  void advanceCpu(uint64_t busy, uint64_t idle) {
    cpus_[0].user += busy;
    cpus_[0].idle += idle;
    tree_.setCpus(cpus_);
  }
  size_t alarms(const wchar_t* name2) const {
    size_t n = 0;
    for (const auto& b : recorder_.broadcasts()) n += (b.name1 == L"PERF-ALERT" && b.name2 == name2) ? 1 : 0;
    return n;
  }

  FixtureTree tree_;
  std::vector<FakeCpu> cpus_;
  Recorder recorder_;
  PerfmonScheduler* watch_ = nullptr;
  WatchState& state_ = WatchState::instance();
};

TEST_F(WatchTest, FirstPassStoresTotalsSecondEvaluatesAndAnAlarmShortensThePeriod) {
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &Recorder::sink));
  recorder_.clear();
  startWatch();
  EXPECT_EQ(recorder_.timerStarts(), std::vector<uint32_t>{30000});
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage"), std::vector<std::wstring>{L"0"});

  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLogPrefix(L"System CPU use"), 0u);
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").size(), 1u);
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"Physical memory use: 50%"), 1u);
  ASSERT_EQ(recorder_.messages().size(), 1u);
  EXPECT_EQ(recorder_.messages()[0].bag.getInt64(L"overall_cpu", -1), 0);

  advanceCpu(723, 77);  // 90.375 %, rounded 91: above 90
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"System CPU use: 91%"), 1u);
  EXPECT_EQ(recorder_.countLog(CORE::Info, L"CPU-ALARM: cpu use = 91%"), 1u);
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").back(), L"91");
  ASSERT_EQ(alarms(L"CPU-ALARM"), 1u);
  EXPECT_EQ(recorder_.broadcasts().back().bag.get(L"CPU_PERCENTAGE").str(), L"91");
  EXPECT_EQ(state_.cpuPercent(), 90.375f);
  EXPECT_EQ(state_.getCpu(), 91);
  EXPECT_EQ(recorder_.timerStarts(), (std::vector<uint32_t>{30000, 15000}));

  const watch_test::Message message = recorder_.messages().back();
  EXPECT_EQ(message.worker, L"AgentHelpDesk");
  EXPECT_EQ(message.op, L"HelpdeskOperation");
  EXPECT_EQ(message.bag.getName(0).str(), L"opcode");
  EXPECT_EQ(message.bag.get(L"opcode").str(), L"NewDataFromStatrix");
  EXPECT_EQ(message.bag.getInt64(L"overall_cpu"), 91);
  EXPECT_EQ(message.bag.getInt64(L"overall_mem"), 50);

  // A lasting alarm is raised again on every pass; the period stays.
  advanceCpu(723, 77);
  EXPECT_TRUE(tick());
  EXPECT_EQ(alarms(L"CPU-ALARM"), 2u);
  EXPECT_EQ(recorder_.timerStarts().size(), 2u);

  advanceCpu(100, 900);  // 10 %: the alarm clears and the sampling interval is back
  EXPECT_TRUE(tick());
  EXPECT_EQ(alarms(L"CPU-ALARM"), 2u);
  EXPECT_FALSE(state_.cpuAlarm());
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").back(), L"10");
  EXPECT_EQ(recorder_.timerStarts(), (std::vector<uint32_t>{30000, 15000, 30000}));
}

TEST_F(WatchTest, CpuFigureMustRoundAboveItsThreshold) {
  startWatch();
  EXPECT_TRUE(tick());
  advanceCpu(361, 39);  // 90.25 %, rounded 90: not above 90
  EXPECT_TRUE(tick());
  EXPECT_EQ(state_.cpuPercent(), 90.25f);
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"System CPU use: 90%"), 1u);
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").back(), L"90");
  EXPECT_EQ(alarms(L"CPU-ALARM"), 0u);
  EXPECT_FALSE(state_.cpuAlarm());
}

TEST_F(WatchTest, MemoryAlarmsAtItsThresholdAndAZeroThresholdLeavesTheAlarmInForce) {
  tree_.setMeminfo(10000000, 1000000);  // load 90
  startWatch();
  EXPECT_TRUE(tick());  // memory needs no previous pass
  EXPECT_EQ(recorder_.countLog(CORE::Info, L"MEMORY-ALARM: physical memory use = 90%"), 1u);
  ASSERT_EQ(alarms(L"MEMORY-ALARM"), 1u);
  EXPECT_EQ(recorder_.broadcasts().back().bag.get(L"MEMORY_PERCENTAGE").str(), L"90");
  EXPECT_EQ(recorder_.writesTo(L"MemoryPercentage").back(), L"90");
  EXPECT_EQ(state_.getMem(), 90);
  EXPECT_EQ(recorder_.timerStarts(), (std::vector<uint32_t>{30000, 15000}));

  changeSetting(L"OverallMemoryPercentage", L"0");
  tree_.setMeminfo(10000000, 1100000);  // load 89
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLogPrefix(L"Physical memory use"), 1u);
  EXPECT_TRUE(state_.memAlarm());
  EXPECT_EQ(recorder_.timerStarts().size(), 2u);

  changeSetting(L"OverallMemoryPercentage", L"90");
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"Physical memory use: 89%"), 1u);
  EXPECT_EQ(alarms(L"MEMORY-ALARM"), 1u);
  EXPECT_FALSE(state_.memAlarm());
  EXPECT_EQ(recorder_.timerStarts().back(), 30000u);
}

TEST_F(WatchTest, ZeroThresholdsSkipTheirEvaluationsButNotTheWalk) {
  setSetting(L"OverallCpuPercentage", L"0");
  setSetting(L"OverallMemoryPercentage", L"0");
  setSetting(L"ProcessCpuPercentage", L"50");
  startWatch();
  recorder_.clear();
  EXPECT_TRUE(tick());
  advanceCpu(500, 500);
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLogPrefix(L"System CPU use"), 0u);
  EXPECT_EQ(recorder_.countLogPrefix(L"Physical memory use"), 0u);
  EXPECT_EQ(recorder_.writeCount(), 0u);
  EXPECT_EQ(state_.getCpu(), 0);
  EXPECT_EQ(state_.processes().size(), 2u);
  EXPECT_EQ(state_.getTotalMemory(), 17179);  // 16 GiB in units of 10^6 bytes
}

TEST_F(WatchTest, AllThresholdsZeroSkipsThePassButStillSendsTheHelpdeskMessage) {
  for (const wchar_t* name : {L"OverallCpuPercentage", L"OverallMemoryPercentage", L"ProcessCpuPercentage",
                              L"ProcessMemoryPercentage"}) {
    setSetting(name, L"0");
  }
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &Recorder::sink));
  startWatch();
  recorder_.clear();
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLog(CORE::Trace, L"TimerCallback for CpuAndMemWatch initiated."), 1u);
  EXPECT_EQ(recorder_.countLog(CORE::Trace, L"TimerCallback for CpuAndMemWatch skipped, nothing to do."), 1u);
  EXPECT_EQ(recorder_.writeCount(), 0u);
  EXPECT_EQ(state_.processes().size(), 0u);
  ASSERT_EQ(recorder_.messages().size(), 1u);
  const CORE::PropertyBag bag = recorder_.messages()[0].bag;
  EXPECT_EQ(bag.get(L"opcode").str(), L"NewDataFromStatrix");
  EXPECT_EQ(bag.getInt64(L"overall_cpu", -1), 0);
  EXPECT_EQ(bag.getInt64(L"overall_mem", -1), 0);
}

TEST_F(WatchTest, StopZeroesThePublishedFiguresButKeepsTheMemorySizes) {
  startWatch();
  EXPECT_TRUE(tick());
  advanceCpu(500, 500);
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").back(), L"50");
  EXPECT_EQ(recorder_.writesTo(L"MemoryPercentage").back(), L"50");

  watch_->stop();
  watch_->Release();
  watch_ = nullptr;
  EXPECT_EQ(recorder_.writesTo(L"CpuPercentage").back(), L"0");
  EXPECT_EQ(recorder_.writesTo(L"MemoryPercentage").back(), L"0");
  const auto stored = CORE::registryRead(kStats + L"CpuPercentage");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->text.str(), L"0");
  EXPECT_EQ(state_.getCpu(), 0);
  EXPECT_EQ(state_.getMem(), 0);
  EXPECT_EQ(state_.getTotalMemory(), 17179);
  EXPECT_EQ(state_.getFreeMemory(), 8589);
}

TEST_F(WatchTest, SamplingIntervalSetsThePeriodWithAFiveSecondFloor) {
  startWatch();
  const struct {
    const wchar_t* seconds;
    uint32_t periodMs;
  } cases[] = {{L"0", 5000}, {L"1", 5000}, {L"5", 5000}, {L"6", 6000}, {L"-1", 4294966296u}, {L"30", 30000}};
  for (const auto& c : cases) {
    changeSetting(L"SamplingIntervalSeconds", c.seconds);
    EXPECT_EQ(recorder_.timerStarts().back(), c.periodMs) << "SamplingIntervalSeconds=" << c.seconds;
  }
  EXPECT_TRUE(state_.watchEnabled());
}

TEST_F(WatchTest, IntervalNameInLowerCaseIsTakenUp) {
  startWatch();
  changeSetting(L"samplingintervalseconds", L"7");
  EXPECT_EQ(recorder_.timerStarts(), (std::vector<uint32_t>{30000, 7000}));
}

TEST_F(WatchTest, AlarmIntervalAppliesWhileAnAlarmHoldsUnlessTheSamplingIntervalIsShorter) {
  tree_.setMeminfo(10000000, 1000000);  // load 90: memory alarm on the first pass
  startWatch();
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.timerStarts().back(), 15000u);
  changeSetting(L"AlarmIntervalSeconds", L"1");
  EXPECT_EQ(recorder_.timerStarts().back(), 5000u);
  changeSetting(L"AlarmIntervalSeconds", L"60");
  EXPECT_EQ(recorder_.timerStarts().back(), 30000u);
}

TEST_F(WatchTest, ExceptionInAPassDisablesTheWatchUntilTheNextReschedule) {
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &Recorder::sink));
  WatchState::setWalkHookForTesting([] { throw std::runtime_error("injected walk failure"); });
  startWatch();

  EXPECT_TRUE(tick());  // a failed pass still reports success
  EXPECT_EQ(recorder_.countLog(CORE::Error, L"EXCEPTION IN CpuAndMemWatch"), 1u);
  EXPECT_FALSE(state_.watchEnabled());
  ASSERT_TRUE(state_.lock().try_lock()) << "the pass left its lock held";
  state_.lock().unlock();
  EXPECT_EQ(recorder_.messages().size(), 1u);  // the failing tick still publishes

  WatchState::setWalkHookForTesting(nullptr);
  EXPECT_FALSE(tick());
  EXPECT_EQ(recorder_.messages().size(), 1u);
  EXPECT_EQ(recorder_.countLogPrefix(L"Physical memory use"), 0u);

  changeSetting(L"SamplingIntervalSeconds", L"20");
  EXPECT_TRUE(state_.watchEnabled());
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.messages().size(), 2u);
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"Physical memory use: 50%"), 1u);
}

TEST_F(WatchTest, EveryProcessorOfEveryGroupCounts) {
  // 200 processors: four groups of up to 64, and more entries than 128 in all.
  cpus_.assign(200, FakeCpu{0, 0, 0, 1000});
  tree_.setCpus(cpus_);
  tree_.addProcess({300, "busy", 0, 0, 7000, 4096, 0, 3, 1000});
  startWatch();
  EXPECT_TRUE(tick());

  // Processors 128..199 fully busy, the rest idle: 72 of 200 processors' time, 36 %.
  for (size_t i = 0; i < cpus_.size(); ++i) (i < 128 ? cpus_[i].idle : cpus_[i].user) += 100;
  tree_.setCpus(cpus_);
  tree_.addProcess({300, "busy", 5000, 0, 7000, 4096, 0, 3, 1000});  // a quarter of 200 x 100 ticks
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.countLog(CORE::Debug, L"System CPU use: 36%"), 1u);
  const ProcessRecord* busy = state_.processes().find(300);
  ASSERT_NE(busy, nullptr);
  EXPECT_EQ(busy->cpuPercent, 25.0f);

  // Session sums: the busy process's session and the editor's; init (never set: session 0) is
  // not among them.
  CORE::coresync hold(state_.lock());
  const SessionSums& sums = state_.sessionSums();
  ASSERT_EQ(sums.sessions().size(), 2u);
  EXPECT_EQ(sums.sessions()[0].sessionId, 2u);
  EXPECT_EQ(sums.sessions()[1].sessionId, 3u);
  EXPECT_EQ(sums.sessions()[1].cpuTime, state_.systemDelta() / 4);
  EXPECT_EQ(sums.sessions()[1].privateBytes, 4096 * 1024);
  EXPECT_EQ(sums.find(0), nullptr);
}

}  // namespace
