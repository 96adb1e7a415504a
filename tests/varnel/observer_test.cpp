// Tests of the logging sink: formatting, level filter, observer hand-off and the stderr fallback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/logging.h"

namespace {

void sysMessage(int level, const wchar_t* source, const wchar_t* format, std::vector<CORE::FormatArg> args = {}) {
  CORE::__SysMessage(level, source, format, args.data(), args.size(), nullptr, nullptr);
}

// "level source: text" for every log line the observer saw.
std::vector<std::wstring> lines(const varnel_test::RecordingObserver& observer) {
  std::vector<std::wstring> out;
  for (const varnel_test::Event& e : observer.events())
    if (e.kind == L"log") out.push_back(std::to_wstring(e.number) + L" " + e.name + L": " + e.text);
  return out;
}

class SysMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { CORE::setLogLevel(0); }
  void TearDown() override { CORE::setLogLevel(0); }
};

TEST_F(SysMessageTest, FormatsFiltersAndHandsLinesToTheObserver) {
  varnel_test::RecordingObserver observer;
  EXPECT_EQ(CORE::hostObserver(), &observer);
  sysMessage(CORE::Error, L"statrix", L"Failed to write %s - %s (%d)", {L"CpuPercentage", L"Access is denied.", 5});
  sysMessage(CORE::Trace, nullptr, L"%s", {L"%n%s"});
  CORE::setLogLevel(CORE::Warn);
  for (int level = CORE::Trace; level <= CORE::Error; ++level) sysMessage(level, L"m", L"level %d", {level});
  EXPECT_THAT(lines(observer), ::testing::ElementsAre(L"4 statrix: Failed to write CpuPercentage - Access is denied. (5)",
                                                      L"0 : %n%s", L"3 m: level 3", L"4 m: level 4"));
}

TEST_F(SysMessageTest, WritesToStderrWithoutObserver) {
  ::testing::internal::CaptureStderr();
  sysMessage(CORE::Warn, L"statrix", L"PulseTimer pulse %u delay %u DELAYED", {3u, 1500u});
  sysMessage(7, L"x", L"caf\u00e9");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, ::testing::HasSubstr("Warn statrix: PulseTimer pulse 3 delay 1500 DELAYED\n"));
  EXPECT_THAT(err, ::testing::HasSubstr("Level7 x: caf\xC3\xA9\n"));
}

TEST_F(SysMessageTest, LoadedNoticeCarriesTheModuleFileName) {
  varnel_test::RecordingObserver observer;
  CORE::sysmsgLogLoaded(nullptr, false);  // null: the program itself, named without its directory
  const auto events = observer.events();
  ASSERT_EQ(observer.kinds(), std::vector<std::wstring>{L"loaded"});
  EXPECT_EQ(CORE::corestring(events[0].name).dropSuffix(), CORE::corestring(L"varnel_observer_test"));
  EXPECT_EQ(CORE::corelogExternal, nullptr);  // no external logger until the host installs one
}

// Observers swapped while other threads log: every line reaches exactly one observer.
TEST_F(SysMessageTest, ObserverSwapIsThreadSafe) {
  varnel_test::RecordingObserver one, other;
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    for (int i = 0; !stop; ++i) CORE::setHostObserver(i % 2 ? &one : &other);
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < 2; ++t)
    loggers.emplace_back([] {
      for (int i = 0; i < 500; ++i) sysMessage(CORE::Info, L"t", L"%d", {i});
    });
  for (auto& t : loggers) t.join();
  stop = true;
  swapper.join();
  CORE::setHostObserver(nullptr);
  EXPECT_EQ(lines(one).size() + lines(other).size(), 1000u);
}

}  // namespace
