// Process reports: name lists, percentage texts, the owner lookup against the real system, alarm lines and bags.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "process/format_percent.h"
#include "process/process_owner.h"
#include "process/process_report.h"
#include "statrix/cpumem_watch_env.h"
#include "statrix/process_snapshot_builder.h"

namespace {

using watch_test::Event;

// No system hands out this process id (above Linux's largest, not a multiple of 4 as Windows
// ids are), so its owner can never be read.
constexpr uint32_t kNoSuchPid = 0x7FFFFFF1;

TEST(ProcessNameList, FirstMatchingItemDecidesAndItemsAreTrimmed) {
  // An empty list admits all (listings pass one); case is ignored; exclusions alone admit
  // nothing; the first match wins; blank items match no name; "!" excludes the empty name.
  const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
      {L"", L"anything", true},         {L"*", L"anything", true},
      {L"editor", L"EDITOR", true},     {L"editor", L"editors", false},
      {L"!editor,*", L"editor", false}, {L"!editor,*", L"shell", true},
      {L"!editor", L"shell", false},    {L"  editor \t, shell", L"editor", true},
      {L"sh*, !shell", L"shell", true}, {L" ,\r\n, ed?tor", L"editor", true},
      {L" , ", L"editor", false},       {L"!", L"", false},
  };
  for (const auto& [list, name, admitted] : cases) {
    EXPECT_EQ(admitsProcess(list, name), admitted)
        << "list \"" << CORE::corestring(list).utf8() << "\", name \"" << CORE::corestring(name).utf8() << "\"";
  }
}

TEST(PercentTexts, NotAvailableForZeroOneDecimalOtherwiseAndAHugeValueCutAtTheBuffer) {
  EXPECT_EQ(formatPercent(0.0f).str(), L"N/A");
  EXPECT_EQ(formatPercent(0.04f).str(), L"0.0");
  EXPECT_EQ(formatPercent(1e30f).length(), 31u);
}

TEST(ProcessOwner, ATokenAnswerIsOnlyUsedWhenTheWholeSidLiesInsideIt) {
  // TOKEN_USER, then a SID with two sub-authorities (S-1-22-1-1000): 8 + 2 * 4 bytes.
  // The answer sits inside a larger block, so that pointers before and after it stay valid.
  alignas(8) std::byte block[160] = {};
  std::byte* answer = block + 64;
  constexpr size_t kAnswerSize = sizeof(TOKEN_USER) + 16;
  std::byte* sid = answer + sizeof(TOKEN_USER);
  sid[0] = std::byte{1};
  sid[1] = std::byte{2};
  const auto point = [&](const void* at) {
    TOKEN_USER user{};
    user.User.Sid = const_cast<void*>(at);
    std::memcpy(answer, &user, sizeof user);
  };
  point(sid);
  EXPECT_EQ(tokenUserSid(answer, kAnswerSize), sid);
  EXPECT_EQ(tokenUserSid(answer, kAnswerSize - 1), nullptr);  // the last sub-authority cut off
  sid[1] = std::byte{15};                                       // claims more than was returned
  EXPECT_EQ(tokenUserSid(answer, kAnswerSize), nullptr);
  sid[1] = std::byte{2};
  point(answer - 32);  // before the answer
  EXPECT_EQ(tokenUserSid(answer, kAnswerSize), nullptr);
  point(answer + kAnswerSize + 8);  // after it
  EXPECT_EQ(tokenUserSid(answer, kAnswerSize), nullptr);
  EXPECT_EQ(tokenUserSid(answer, sizeof(TOKEN_USER) - 1), nullptr);
}

class ReportTest : public ::testing::Test {
 protected:
  FakeProcess process(uint64_t pid, const wchar_t* name) {
    FakeProcess p;
    p.pid = pid;
    p.name = name;
    return p;
  }
  watch_test::Recorder recorder_;
};

TEST_F(ReportTest, AnAlarmLogsTheWholePercentAndBroadcastsTheProcessWithItsOwnerFromTheSystem) {
  const uint32_t self = GetCurrentProcessId();
  const ProcessSnapshot snapshot = buildSnapshot({process(self, L"tester.exe")});
  reportProcess(ProcessKind::Cpu, L"!other,test*", *snapshot.begin(), 50.375f, true);

  // The system names the owner of this process as domain and account.
  const CORE::corestring owner = processOwner(self);
  const size_t slash = owner.str().find(L'\\');
  ASSERT_NE(slash, std::wstring::npos) << owner.utf8();
  EXPECT_GT(owner.length(), slash + 1) << "an account name follows the domain";
  const int32_t session = static_cast<int32_t>(CORE::coreportable::getSessionId(self));
  const std::wstring expected = L"PROCESS_ALARM_CPU: pid=" + std::to_wstring(self) +
                                L", sessionId=" + std::to_wstring(session) + L", name=tester, user=" + owner.str() +
                                L", percent=51";
  EXPECT_EQ(recorder_.lines(), std::vector<std::wstring>{expected});
  const auto broadcasts = recorder_.of(Event::Broadcast);
  ASSERT_EQ(broadcasts.size(), 1u);
  EXPECT_EQ(broadcasts[0].text, L"PROCESS-ALARM");
  EXPECT_EQ(broadcasts[0].bag.get(L"USER").str(), owner.str());
  EXPECT_EQ(broadcasts[0].bag.get(L"CPU_PERCENTAGE").str(), L"51");

  // "SYSTEM" stands in for an owner that cannot be read; the failure is traced only.
  recorder_.clear();
  EXPECT_EQ(processOwner(kNoSuchPid).str(), L"SYSTEM");
  EXPECT_EQ(recorder_.count(Event::Log, L"OpenProcess() failed: "), 1u);
  EXPECT_TRUE(recorder_.lines(2).empty());
}

TEST_F(ReportTest, ANamePointingOutsideTheSnapshotIsNotRead) {
  SnapshotBytes bytes = buildSnapshotBytes({process(kNoSuchPid, L"editor.bin")});
  nt::ProcessInfoLayout layout;
  std::memcpy(&layout, bytes.data.get(), sizeof layout);
  layout.ImageNameBuffer = 0x10;  // far outside the buffer
  std::memcpy(bytes.data.get(), &layout, sizeof layout);
  const ProcessSnapshot snapshot = bytes.take();
  EXPECT_TRUE((*snapshot.begin()).imageName().empty());
  reportProcess(ProcessKind::Cpu, L"*", *snapshot.begin(), 60.0f, true);
  ASSERT_EQ(recorder_.of(Event::Broadcast).size(), 1u);
  EXPECT_EQ(recorder_.of(Event::Broadcast)[0].bag.get(L"PROCESSNAME").str(), L"");
}

}  // namespace
