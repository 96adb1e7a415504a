// The logging path: CORE::formatMessage with the compile-time format check, and the sink behind
// __SysMessage (level filter, observer hand-off, the stderr fallback).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/logging.h"

namespace {

using CORE::FormatArg;
using CORE::format_check::matches;

enum class Colour { Red, Green };

std::wstring format(const wchar_t* text, std::vector<FormatArg> args = {}) {
  return CORE::formatMessage(text, args.data(), args.size());
}

TEST(FormatMessage, IntegersFollowCThirtyTwoBitSemantics) {
  EXPECT_EQ(format(L"%d|%i|%u|%u|%d", {-42, 7, 42u, -1, 4294967295u}), L"-42|7|42|4294967295|-1");
  EXPECT_EQ(format(L"%d|%ld|%lu", {int64_t{0x100000005}, -1, -1}), L"5|-1|4294967295");  // long is 32-bit
  EXPECT_EQ(format(L"%lld|%I64u|%zu", {int64_t{-5000000000}, -1, uint64_t{1} << 40}),
            L"-5000000000|18446744073709551615|1099511627776");
  EXPECT_EQ(format(L"%lld", {std::numeric_limits<int64_t>::min()}), L"-9223372036854775808");
  EXPECT_EQ(format(L"%x|%X|%o|%#x|%#X|%#o|%#x", {255, -1, 8, 255, 255, 8, 0}), L"ff|FFFFFFFF|10|0xff|0XFF|010|0");
  EXPECT_EQ(format(L"%d|%d|%u", {Colour::Green, true, 7u}), L"1|1|7");
}

TEST(FormatMessage, FlagsWidthAndPrecision) {
  EXPECT_EQ(format(L"[%5d][%-5d][%05d][%+d][% d]", {42, 42, -42, 42, 42}), L"[   42][42   ][-0042][+42][ 42]");
  EXPECT_EQ(format(L"[%8.3d][%08.3d][%.0d][%-05d]", {-7, 7, 0, 3}), L"[    -007][     007][][3    ]");
  EXPECT_EQ(format(L"[%#010x][0x%08X]", {255, 0xBEEFu}), L"[0x000000ff][0x0000BEEF]");
  EXPECT_EQ(format(L"[%*d][%*d][%.*d]", {4, 1, -3, 5, 4, 9}), L"[   1][5  ][0009]");
  EXPECT_EQ(format(L"[%6s][%-6s][%6.2s]", {L"ab", L"ab", L"abcdef"}), L"[    ab][ab    ][    ab]");
  EXPECT_EQ(format(L"%99999999999d", {1}).size(), static_cast<size_t>(CORE::format_conversion::kMaxField));
}

TEST(FormatMessage, Floating) {
  EXPECT_EQ(format(L"%f|%3.1f|%3.1f|%3.1f", {1.5, 5.25f, 0.04, 123.45}), L"1.500000|5.2|0.0|123.5");
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(format(L"%f|%05f|%4f", {-inf, inf, std::numeric_limits<double>::quiet_NaN()}), L"-inf|  inf| nan");
}

TEST(FormatMessage, StringsAndPointersAreCopiedNeverInterpreted) {
  const std::wstring ws = L"wide";
  EXPECT_EQ(format(L"%s-%s-%ls", {L"\u4e2d", ws, CORE::corestring(L"core")}), L"\u4e2d-wide-core");
  EXPECT_EQ(format(L"%s|100%%", {L"%n%s%d"}), L"%n%s%d|100%");
  EXPECT_EQ(format(L"[%s]", {static_cast<const wchar_t*>(nullptr)}), L"[]");
  EXPECT_EQ(format(L"0x%p|[%18p]", {static_cast<const void*>(nullptr), reinterpret_cast<const void*>(0xABCull)}),
            L"0x0000000000000000|[  0000000000000ABC]");
}

TEST(FormatMessage, MismatchesAndUnknownConversionsShowMarkers) {
  EXPECT_EQ(format(L"%s|%d|%f|%p", {42, L"x", 1, 1}), L"<bad format>|<bad format>|<bad format>|<bad format>");
  EXPECT_EQ(format(L"%n%d", {7}), L"<bad format>7");  // unknown: takes no argument
  EXPECT_EQ(format(L"%q|%5%|%"), L"<bad format>|<bad format>|<bad format>");
  EXPECT_EQ(format(L"%d %d %s", {1}), L"1 <missing> <missing>");
  EXPECT_EQ(format(L"%*d|%s", {L"w", 1, L"next"}), L"<bad format>|next");
  EXPECT_EQ(format(L"%d", {1, 2, 3}), L"1");  // extra arguments are ignored
  EXPECT_EQ(CORE::formatMessage(nullptr, nullptr, 0), L"");
}

// wformat_string's consteval constructor throws, so the call does not compile, exactly when
// format_check::matches is false. A consteval failure is no substitution failure that a
// requires-expression could observe, so the predicate is probed directly.
static_assert(matches<int, unsigned, long long, bool, Colour>(L"%d %u %lld %d %x 100%%"));
static_assert(matches<double, float, const wchar_t*, std::wstring, CORE::corestring>(L"%3.1f %e %s %ls %s"));
static_assert(matches<const void*, int, int, uint64_t, int64_t>(L"0x%p %*.*I64u %I32d"));
static_assert(!matches<int>(L"%s") && !matches<const wchar_t*>(L"%d") && !matches<double>(L"%d"));
static_assert(!matches<int>(L"%p") && !matches<const char*>(L"%s") && !matches<std::string>(L"%s"));
static_assert(!matches<int>(L"%n") && !matches<int>(L"%d %d") && !matches<int, int>(L"%d"));
static_assert(!matches<>(L"50%") && !matches<int>(L"%5%"));

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
