// The process watch on the Linux layer: alarms, consumer lists and session figures from fixture procfs trees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "cpumem/perfmon_scheduler.h"
#include "cpumem/watch_state.h"
#include "statrix/cpumem_watch_env.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::FakeCpu;
using statrix_test::FakeProcess;
using watch_test::Event;

const std::wstring kSettings = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";
constexpr uint32_t kUnknownUid = 3999999;  // no account has it

// "host\root": the owner text of a process of uid 0 (NSS name, the host name as domain).
std::wstring rootOwner() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return CORE::corestring::fromUtf8(host).str() + L"\\root";
}

class ProcessWatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watch_test::temporaryRegistry();
    CORE::setManualTimers(true);
  }

  void SetUp() override {
    std::filesystem::remove_all(watch_test::temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Alarms");
    setSetting(L"ProcessCpuPercentage", L"50");
    cpu_ = FakeCpu{1000, 0, 0, 8000};
    tree_.setCpus({cpu_});
    tree_.setMeminfo(1000000, 500000, 100000, 50000);  // load 50, 50000 kB of swap in use
    tree_.addProcess({100, "init", 50, 20, 10, 1000, 0, 4294967295u, 0});
    tree_.addProcess({200, "editor.bin", 300, 40, 5000, 200000, 50000, 2, 0});
    tree_.addProcess({300, "hog", 100, 0, 6000, 100000, 0, 3, kUnknownUid});
    tree_.activate();
    ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &watch_test::Recorder::sink));
    watch_ = new PerfmonScheduler();
    watch_->start();
  }

  void TearDown() override {
    watch_->stop();
    watch_->Release();
    CORE::removeSinkWorker(L"AgentHelpDesk");
  }

  static void setSetting(const std::wstring& name, const wchar_t* text) {
    ASSERT_TRUE(CORE::registryWrite(kSettings + name, {1, text, {}}));
  }
  bool tick() {
    const std::vector<bool> results = CORE::tickTimers();
    return results.size() == 1 && results[0];
  }
  // The "sessionCpuMetric" or "sessionMemMetric" figures of the last help-desk message as
  // (session, value) pairs.
  std::vector<std::pair<int32_t, int64_t>> sessionFigures(const wchar_t* bagName, const wchar_t* key) const {
    std::vector<std::pair<int32_t, int64_t>> out;
    const CORE::PropertyBag message = recorder_.of(Event::Message).back().bag;
    for (size_t i = 0; i < message.size(); ++i) {
      if (message.getName(i).str() != bagName) continue;
      const CORE::PropertyBag bag = message.bagAt(i);
      out.emplace_back(bag.getInt(L"sessionId"), bag.getInt64(key, -1));
    }
    return out;
  }

  statrix_test::FixtureTree tree_;
  FakeCpu cpu_;
  watch_test::Recorder recorder_;
  PerfmonScheduler* watch_ = nullptr;
};

TEST_F(ProcessWatchTest, AlarmsListsAndSessionFiguresFollowTheTickDeltasExactly) {
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

  const std::wstring root = rootOwner();
  EXPECT_EQ(recorder_.lines(), (std::vector<std::wstring>{
                             L"PROCESS_ALARM_CPU: pid=300, sessionId=3, name=hog, user=SYSTEM, percent=60",
                             L"CPU-ALARM: cpu use = 95%",
                             L"High CPU use: pid=300, sessionId=3, name=hog, user=SYSTEM, percent=60.0",
                             L"High CPU use: pid=200, sessionId=2, name=editor, user=" + root + L", percent=20.0",
                             L"Missing CPU use: 15.0%; listing new processes",
                             L"Missing CPU use: pid=400, sessionId=2, name=newborn, user=" + root + L", percent=N/A",
                         }));
  const std::vector<Event> broadcasts = recorder_.of(Event::Broadcast);
  ASSERT_EQ(broadcasts.size(), 3u);
  EXPECT_EQ(broadcasts[0].text, L"PROCESS-ALARM");
  EXPECT_EQ(broadcasts[0].bag.get(L"USER").str(), L"SYSTEM");
  EXPECT_EQ(broadcasts[0].bag.get(L"SESSIONID").str(), L"3");
  EXPECT_EQ(broadcasts[1].text, L"PROCESS-LIST");  // before the overall alarm's own broadcast
  EXPECT_EQ(broadcasts[1].bag.getInt(L"numConsumers"), 2);
  EXPECT_EQ(broadcasts[1].bag.getBag(L"1").get(L"USER").str(), root);
  EXPECT_EQ(broadcasts[1].bag.getBag(L"1").get(L"CPU_PERCENTAGE").str(), L"20");
  EXPECT_EQ(broadcasts[2].text, L"CPU-ALARM");

  // Session 2: editor's 200 ticks of 1000; session 3: hog's 600. Private bytes (RssAnon +
  // VmSwap) of 1000000 kB: editor 250000 kB.
  using Figures = std::vector<std::pair<int32_t, int64_t>>;
  EXPECT_EQ(sessionFigures(L"sessionCpuMetric", L"cpu"), (Figures{{2, 20}, {3, 60}}));
  EXPECT_EQ(sessionFigures(L"sessionMemMetric", L"mem"), (Figures{{2, 25}, {3, 10}}));

  // No processor time passes: every share and session figure is 0, not a NaN turned integer.
  recorder_.clear();
  tree_.addProcess({300, "hog", 900, 0, 6000, 100000, 0, 3, kUnknownUid});
  EXPECT_TRUE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"PROCESS_ALARM"), 0u);
  EXPECT_EQ(sessionFigures(L"sessionCpuMetric", L"cpu"), (Figures{{2, 0}, {3, 0}}));
  EXPECT_EQ(sessionFigures(L"sessionMemMetric", L"mem"), (Figures{{2, 25}, {3, 10}}));

  // A memory total of 0 cannot be read as a memory status: the pass fails with its error line,
  // the figures stay, and the message still goes out.
  recorder_.clear();
  tree_.setMeminfo(0, 0);
  EXPECT_FALSE(tick());
  EXPECT_EQ(recorder_.count(Event::Log, L"GlobalMemoryStatusEx FAILED"), 1u);
  EXPECT_EQ(sessionFigures(L"sessionCpuMetric", L"cpu"), (Figures{{2, 0}, {3, 0}}));
}

TEST_F(ProcessWatchTest, TheNameListFiltersAlarmsAndSessionZeroHasNoFigures) {
  watch_->stop();
  watch_->Release();
  setSetting(L"ProcessNameList", L" !hog , *");
  setSetting(L"ProcessMemoryPercentage", L"10");
  watch_ = new PerfmonScheduler();
  watch_->start();
  EXPECT_TRUE(tick());
  // Memory shares are valid at once: editor 20 %, hog 10 % (excluded), init 0.1 %.
  EXPECT_EQ(recorder_.count(Event::Log, L"PROCESS_ALARM_MEMORY: pid=200, sessionId=2, name=editor"), 1u);
  EXPECT_EQ(recorder_.count(Event::Log, L"PROCESS_ALARM"), 1u);
  const CORE::PropertyBag message = recorder_.of(Event::Message).back().bag;
  for (size_t i = 0; i < message.size(); ++i) EXPECT_NE(message.bagAt(i).getInt(L"sessionId", -1), 0) << i;
}

}  // namespace
