// Tests of the logging sink: formatting, level filter, observer hand-off and the stderr fallback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "varnel/host_control.h"
#include "varnel/logging.h"

namespace {

struct Line {
  int level;
  std::wstring source;
  std::wstring text;
  bool operator==(const Line&) const = default;
};

class RecordingObserver : public CORE::HostObserver {
 public:
  void onSysMessage(int level, const std::wstring& source, const std::wstring& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.push_back({level, source, text});
  }
  void onLoaded(const std::wstring& moduleName) override {
    std::lock_guard<std::mutex> hold(mutex_);
    loaded_.push_back(moduleName);
  }
  std::vector<Line> lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  std::vector<std::wstring> loaded() {
    std::lock_guard<std::mutex> hold(mutex_);
    return loaded_;
  }

 private:
  std::mutex mutex_;
  std::vector<Line> lines_;
  std::vector<std::wstring> loaded_;
};

void sysMessage(int level, const wchar_t* source, const wchar_t* format, std::vector<CORE::FormatArg> args = {}) {
  CORE::__SysMessage(level, source, format, args.data(), args.size(), nullptr, nullptr);
}

class SysMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { CORE::setLogLevel(0); }
  void TearDown() override {
    CORE::setHostObserver(nullptr);
    CORE::setLogLevel(0);
  }
  RecordingObserver observer_;
};

TEST_F(SysMessageTest, FormatsAndHandsLinesToTheObserver) {
  CORE::setHostObserver(&observer_);
  EXPECT_EQ(CORE::hostObserver(), &observer_);
  sysMessage(CORE::Error, L"statrix", L"Failed to write %s - %s (%d)", {L"CpuPercentage", L"Access is denied.", 5});
  sysMessage(CORE::Trace, nullptr, L"%s", {L"%n%s"});
  EXPECT_THAT(observer_.lines(),
              ::testing::ElementsAre(Line{4, L"statrix", L"Failed to write CpuPercentage - Access is denied. (5)"},
                                     Line{0, L"", L"%n%s"}));
}

TEST_F(SysMessageTest, DropsLinesBelowTheLowestLevel) {
  CORE::setHostObserver(&observer_);
  CORE::setLogLevel(CORE::Warn);
  for (int level = CORE::Trace; level <= CORE::Error; ++level) sysMessage(level, L"m", L"level %d", {level});
  EXPECT_THAT(observer_.lines(), ::testing::ElementsAre(Line{3, L"m", L"level 3"}, Line{4, L"m", L"level 4"}));
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
  CORE::setHostObserver(&observer_);
  CORE::sysmsgLogLoaded(nullptr, false);  // null: the program itself, named without its directory
  const auto loaded = observer_.loaded();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(CORE::corestring(loaded[0]).dropSuffix(), CORE::corestring(L"varnel_observer_test"));
  EXPECT_EQ(CORE::corelogExternal, nullptr);  // no external logger until the host installs one
}

// Observers swapped while other threads log: every line reaches exactly one observer.
TEST_F(SysMessageTest, ObserverSwapIsThreadSafe) {
  RecordingObserver other;
  std::atomic<bool> stop{false};
  CORE::setHostObserver(&other);
  std::thread swapper([&] {
    for (int i = 0; !stop; ++i) CORE::setHostObserver(i % 2 ? &observer_ : &other);
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
  EXPECT_EQ(observer_.lines().size() + other.lines().size(), 1000u);
}

}  // namespace
