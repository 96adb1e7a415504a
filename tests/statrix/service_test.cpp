// The service inside the plug-in: the pulse thread it owns, shut-down while a handler still
// runs and shut-down racing start-up; the "perfmon" operations on the counter store; the pulse
// timer's late pulses, its warning setting and its stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/ref_ptr.h"
#include "frame/thread_group.h"
#include "service/pulse_timer.h"
#include "service/statrix_operation.h"
#include "service_test_env.h"

namespace {

using LogLine = watch_test::Event;
using LogRecorder = watch_test::Recorder;
using namespace service_test;

CORE::PropertyBag longPulse() {
  CORE::PropertyBag params;
  params.setInt(L"PulseTimerDelay", 600000);
  return params;
}

size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
  return std::find(texts.begin(), texts.end(), text) - texts.begin();
}

bool perfmonInstalled() { return CORE::Varnel::System()->IsWorkerInstalled(L"perfmon", 0); }

class ServiceLifecycle : public PluginFixture {};

TEST_F(ServiceLifecycle, TheLastHandlerToFinishTakesTheServiceDown) {
  LogRecorder log;
  CORE::corerunnable_traceThreads = true;
  start(longPulse());
  EXPECT_EQ(CORE::waitForAllThreads(300), 1);   // the pulse thread stays
  CORE::WorkItem* handler = createOperation();  // as the framework does for a request
  ASSERT_NE(handler, nullptr);

  std::atomic<bool> exitReturned{false};
  std::thread exiting([&] {
    PluginExit();
    exitReturned = true;
  });
  ASSERT_TRUE(log.waitFor(L"varnelPluginDll wait for threads to go"));
  // The worker is gone and no handler can be made any more, but this one still serves.
  EXPECT_FALSE(perfmonInstalled());
  EXPECT_EQ(createOperation(), nullptr);
  CORE::PropertyBag request, reply;
  EXPECT_TRUE(handler->MessageHandler(L"collect", request, reply));
  EXPECT_EQ(reply.getBag(L"globalCounters").size(), 16u);
  EXPECT_FALSE(exitReturned.load());
  EXPECT_FALSE(serviceStopping.load());

  handler->Release();  // destroys the service, which ends the pulse thread
  exiting.join();
  exit();
  CORE::corerunnable_traceThreads = false;  // a plain host setting: flipped only with no thread left
  EXPECT_TRUE(serviceStopping.load());
  const std::vector<std::wstring> texts = log.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), L"End 'perfmon-PulseTimer', count=0, group=0"), 1);
  EXPECT_LT(indexOf(texts, L"PulseTimer finished"), indexOf(texts, L"varnelPluginDll: all threads gone"));
}

TEST_F(ServiceLifecycle, ExitRightAfterInitLeavesNoWorkerBehind) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(PluginInit());
    PluginExit();
    EXPECT_EQ(CORE::waitForAllThreads(0), 0) << round;
    EXPECT_FALSE(perfmonInstalled()) << round;
  }
}

TEST_F(ServiceLifecycle, ARepeatedInitKeepsTheRunningService) {
  start();
  ASSERT_EQ(call(L"update", counterUpdate({{L"AllSessions", L"4"}})).result, true);
  ASSERT_TRUE(PluginInit());
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(collected()[0].second, L"4");
  EXPECT_FALSE(serviceStopping.load());
}

// `store` with `changes` applied: a name of the store takes the new value, others are added.
Pairs applied(Pairs store, const Pairs& changes) {
  for (const auto& change : changes) {
    auto it = std::find_if(store.begin(), store.end(), [&](const auto& e) { return e.first == change.first; });
    if (it == store.end())
      store.push_back(change);
    else
      it->second = change.second;
  }
  return store;
}

TEST_F(ServiceLifecycle, UpdatesReachTheStoreByExactNameAndNeverRenameACounter) {
  start();
  const Pairs seeded = collected();
  ASSERT_EQ(seeded.size(), 16u);
  const Pairs changes = {{L"DesktopSessions", L"7"}, {L"Secure Gateway Sessions High", L"3"}};
  auto reply = call(L"update", counterUpdate(changes));
  EXPECT_EQ(reply.result, true);
  EXPECT_FALSE(reply.bag.hasError());
  EXPECT_EQ(collected(), applied(seeded, changes));

  // A request without or with an empty sub-bag changes nothing and succeeds. A name in another
  // letter case is a name of its own: the seeded spelling keeps its value.
  EXPECT_EQ(call(L"update").result, true);
  EXPECT_EQ(call(L"update", counterUpdate({})).result, true);
  const Pairs others = {{L"desktopsessions", L"9"}, {L"ALLSESSIONS", L"1"}, {L"desktopsessions", L"10"}};
  EXPECT_EQ(call(L"update", counterUpdate(others)).result, true);
  EXPECT_EQ(collected(), applied(applied(seeded, changes), others));
}

TEST_F(ServiceLifecycle, OperationNamesMatchWholeIgnoringCase) {
  start();
  EXPECT_EQ(call(L"COLLECT").bag.getBag(L"globalCounters").size(), 16u);
  EXPECT_EQ(call(L"Update", counterUpdate({{L"AllSessions", L"1"}})).result, true);
  EXPECT_EQ(call(L"configPERFMONmetrics").result, true);
  for (const wchar_t* op : {L"collectCpu", L"collectCpuAndMemory", L"", L"delete"}) {
    auto reply = call(op);
    EXPECT_EQ(reply.result, false);
    EXPECT_EQ(reply.bag.getError(), 120u);
  }
}

// "PulseTimer pulse <pulse> delay <digits><suffix>" at `level`.
watch_test::Match pulseLine(int level, unsigned pulse, const std::wstring& suffix) {
  return [=](const LogLine& l) {
    const std::wstring prefix = L"PulseTimer pulse " + std::to_wstring(pulse) + L" delay ";
    if (l.level != level || l.text.rfind(prefix, 0) != 0) return false;
    const std::wstring rest = l.text.substr(prefix.size());
    const size_t end = rest.find_first_not_of(L"0123456789");
    return end != 0 && (end == std::wstring::npos ? L"" : rest.substr(end)) == suffix;
  };
}

TEST(PulseTimer, AWarningBelowTheDelayMakesEveryPulseLate) {
  LogRecorder log;
  RefPtr<PulseTimer> timer(new PulseTimer({50, 10, false}));
  ASSERT_TRUE(timer->launch());
  EXPECT_TRUE(log.waitFor(pulseLine(CORE::Warn, 1, L" DELAYED")));
  timer->stop();
  EXPECT_EQ(log.count(pulseLine(CORE::Warn, 0, L" DELAYED")), 1u);
  EXPECT_EQ(log.texts().front(), L"PulseTimer started");
  EXPECT_EQ(log.texts().back(), L"PulseTimer finished");
}

TEST(PulseTimer, AWarningThatIsNoNumberGetsTheDefault) {
  CORE::PropertyBag params;
  params.setInt(L"PulseTimerDelay", 1000);
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 2000u);
  for (const wchar_t* text : {L"soon", L"", L"12abc"}) {
    params.set(L"PulseTimerWarn", text);
    EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 2000u) << text;
  }
  params.setBag(L"PulseTimerWarn", CORE::PropertyBag());
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 2000u);
  // Numbers, as numbers or as decimal text, are taken as they are, 0 included.
  params.set(L"PulseTimerWarn", L"1500");
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 1500u);
  params.setInt(L"PulseTimerWarn", 0);
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 0u);
}

}  // namespace
