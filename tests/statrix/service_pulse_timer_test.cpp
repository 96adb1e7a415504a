// The pulse timer: late and logged pulses, and a stop that does not wait out the period.
#include <gtest/gtest.h>

#include <chrono>

#include "frame/ref_ptr.h"
#include "frame/thread_group.h"
#include "frame_test_env.h"
#include "service/pulse_timer.h"

namespace {

using frame_test::LogLine;
using frame_test::LogRecorder;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override { frame_test::useTemporaryRegistry(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

// "PulseTimer pulse <pulse> delay <digits><suffix>" at `level`.
frame_test::Match pulseLine(int level, unsigned pulse, const std::wstring& suffix) {
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
  CORE::PropertyBag nested;
  params.setBag(L"PulseTimerWarn", nested);
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 2000u);
  // Numbers, as numbers or as decimal text, are taken as they are, 0 included.
  params.set(L"PulseTimerWarn", L"1500");
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 1500u);
  params.setInt(L"PulseTimerWarn", 0);
  EXPECT_EQ(PulseTimer::Settings::fromParams(params).warnMs, 0u);
}

TEST(PulseTimer, LogAllTracesPulsesOnTime) {
  LogRecorder log;
  CORE::PropertyBag params;
  params.setInt(L"PulseTimerDelay", 50);  // the warning defaults to 100 ms
  params.setBool(L"PulseTimerLogAll", true);
  RefPtr<PulseTimer> timer(new PulseTimer(PulseTimer::Settings::fromParams(params)));
  ASSERT_TRUE(timer->launch());
  // Any on-time pulse will do: on a loaded machine some may come late.
  EXPECT_TRUE(log.waitFor([](const LogLine& l) {
    for (unsigned pulse = 0; pulse < 1000; ++pulse)
      if (pulseLine(CORE::Trace, pulse, L"")(l)) return true;
    return false;
  }));
  timer->stop();
}

TEST(PulseTimer, StopWakesASleepingPulseAtOnce) {
  LogRecorder log;
  RefPtr<PulseTimer> timer(new PulseTimer({600000, 1200000, true}));
  ASSERT_TRUE(timer->launch());
  ASSERT_TRUE(log.waitFor(L"PulseTimer started"));
  const auto start = std::chrono::steady_clock::now();
  timer->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(log.count(L"PulseTimer finished"), 1u);
  timer.reset();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

}  // namespace
