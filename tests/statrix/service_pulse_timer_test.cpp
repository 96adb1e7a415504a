// The pulse timer on its own: settings, delayed and logged pulses, and a prompt stop.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "frame/ref_ptr.h"
#include "frame/thread_group.h"
#include "frame_test_env.h"
#include "service/pulse_timer.h"

namespace {

using frame_test::LogLine;
using frame_test::LogRecorder;
using Clock = std::chrono::steady_clock;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override { frame_test::useTemporaryRegistry(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

bool isPulseLine(const LogLine& line, int level, unsigned pulse, const std::wstring& suffix) {
  const std::wstring prefix = L"PulseTimer pulse " + std::to_wstring(pulse) + L" delay ";
  if (line.external || line.level != level || line.text.rfind(prefix, 0) != 0) return false;
  const std::wstring rest = line.text.substr(prefix.size());
  const size_t digits = rest.find_first_not_of(L"0123456789");
  if (digits == 0) return false;
  return (digits == std::wstring::npos ? std::wstring() : rest.substr(digits)) == suffix;
}

TEST(PulseTimerSettings, WarnDefaultsToTwiceTheDelay) {
  CORE::PropertyBag params;
  auto s = PulseTimer::Settings::fromParams(params);
  EXPECT_EQ(s.delayMs, 0u);
  EXPECT_EQ(s.warnMs, 0u);
  EXPECT_FALSE(s.logAll);

  params.setInt(L"PulseTimerDelay", 1000);
  s = PulseTimer::Settings::fromParams(params);
  EXPECT_EQ(s.delayMs, 1000u);
  EXPECT_EQ(s.warnMs, 2000u);

  params.setInt(L"PulseTimerWarn", 1500);
  params.setBool(L"PulseTimerLogAll", true);
  s = PulseTimer::Settings::fromParams(params);
  EXPECT_EQ(s.warnMs, 1500u);
  EXPECT_TRUE(s.logAll);
}

TEST(PulseTimer, EveryPulseIsDelayedWhenTheWarningIsBelowTheDelay) {
  LogRecorder log;
  RefPtr<PulseTimer> timer(new PulseTimer({50, 10, false}));
  EXPECT_STREQ(timer->getName(), "perfmon-PulseTimer");
  ASSERT_TRUE(timer->launch());
  EXPECT_TRUE(log.waitFor([](const LogLine& l) { return isPulseLine(l, CORE::Warn, 1, L" DELAYED"); }));
  timer->stop();
  EXPECT_EQ(log.count([](const LogLine& l) { return isPulseLine(l, CORE::Warn, 0, L" DELAYED"); }), 1u);
  EXPECT_EQ(log.lines().front().text, L"PulseTimer started");
  EXPECT_EQ(log.lines().front().level, CORE::Debug);
  EXPECT_EQ(log.lines().back().text, L"PulseTimer finished");
  EXPECT_EQ(log.lines().back().level, CORE::Debug);
}

TEST(PulseTimer, LogAllTracesPulsesThatWereOnTime) {
  LogRecorder log;
  RefPtr<PulseTimer> timer(new PulseTimer({50, 60000, true}));
  ASSERT_TRUE(timer->launch());
  EXPECT_TRUE(log.waitFor([](const LogLine& l) { return isPulseLine(l, CORE::Trace, 1, L""); }));
  timer->stop();
  EXPECT_EQ(log.count([](const LogLine& l) { return isPulseLine(l, CORE::Trace, 0, L""); }), 1u);
  EXPECT_EQ(log.count([](const LogLine& l) { return l.level == CORE::Warn; }), 0u);
}

TEST(PulseTimer, StopWakesASleepingPulseAtOnce) {
  LogRecorder log;
  RefPtr<PulseTimer> timer(new PulseTimer({600000, 1200000, true}));
  ASSERT_TRUE(timer->launch());
  ASSERT_TRUE(log.waitForText(L"PulseTimer started"));
  const auto start = Clock::now();
  timer->stop();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 5000);
  EXPECT_EQ(log.countText(L"PulseTimer finished"), 1u);
  EXPECT_EQ(timer->getThreadId(), 0u);
  timer.reset();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

}  // namespace
