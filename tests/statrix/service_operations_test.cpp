// The "perfmon" worker's operations: the counter store, authorisation, name matching and the
// watch figures.
#include <gtest/gtest.h>

#include "cpumem/watch_state.h"
#include "service_test_env.h"

namespace {

using frame_test::LogLine;
using frame_test::LogRecorder;
using service_test::call;
using service_test::collected;
using service_test::counterUpdate;
using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new service_test::Environment);

const std::vector<std::wstring> kSeeded = {
    L"AllSessions",          L"AllSessionsHigh",         L"ZentSessions",
    L"ZentSessionsHigh",     L"FullVmSessions",          L"FullVmSessionsHigh",
    L"UnmanagedSessions",    L"UnmanagedSessionsHigh",   L"Secure Gateway Sessions",
    L"Secure Gateway Sessions High", L"Dravex Gateway Sessions", L"Dravex Gateway Sessions High",
    L"DesktopSessions",      L"DesktopSessionsHigh",     L"ApplicationSessions",
    L"ApplicationSessionsHigh"};

Pairs seededWith(const Pairs& changes) {
  Pairs out;
  for (const std::wstring& name : kSeeded) out.emplace_back(name, L"0");
  for (const auto& [name, value] : changes) {
    bool found = false;
    for (auto& entry : out)
      if (entry.first == name) entry.second = value, found = true;
    if (!found) out.emplace_back(name, value);
  }
  return out;
}

class PerfmonOperations : public service_test::PluginFixture {
 protected:
  void SetUp() override { start(); }
};

TEST_F(PerfmonOperations, CollectAfterStartHasTheSixteenSeededCountersInOrder) {
  EXPECT_EQ(collected(), seededWith({}));
}

TEST_F(PerfmonOperations, AdministratorUpdatesAreSeenByCollectNamesMatchedExactly) {
  auto reply = call(L"update", counterUpdate({{L"DesktopSessions", L"7"}, {L"Secure Gateway Sessions High", L"3"}}));
  EXPECT_EQ(reply.result, std::optional<bool>(true));
  EXPECT_FALSE(reply.bag.hasError());
  EXPECT_EQ(collected(), seededWith({{L"DesktopSessions", L"7"}, {L"Secure Gateway Sessions High", L"3"}}));

  // A seventeenth name is added at the end; values are text and never checked.
  reply = call(L"update", counterUpdate({{L"ExtraSessions", L"many"}, {L"DesktopSessions", L"8"}}));
  EXPECT_EQ(reply.result, std::optional<bool>(true));
  const Pairs store = collected();
  ASSERT_EQ(store.size(), 17u);
  EXPECT_EQ(store.back(), std::make_pair(std::wstring(L"ExtraSessions"), std::wstring(L"many")));
  EXPECT_EQ(store[12].second, L"8");

  // Without a sub-bag, or with an empty one, nothing changes and the update succeeds.
  EXPECT_EQ(call(L"update").result, std::optional<bool>(true));
  EXPECT_EQ(call(L"update", counterUpdate({})).result, std::optional<bool>(true));
  EXPECT_EQ(collected(), store);
}

TEST_F(PerfmonOperations, UpdatesFromUsersAndFailedImpersonationsAreRefused) {
  for (CORE::Caller caller : {CORE::Caller::User, CORE::Caller::Unknown}) {
    auto reply = call(L"update", counterUpdate({{L"AllSessions", L"99"}, {L"Intruder", L"1"}}), caller);
    EXPECT_EQ(reply.result, std::optional<bool>(false));
    EXPECT_EQ(reply.bag.getError(), 5u);
    EXPECT_EQ(reply.bag.getErrorText().str(), L"NotAuthorized");
  }
  EXPECT_EQ(collected(), seededWith({}));
  // Reading is open to everyone.
  EXPECT_EQ(call(L"collect", {}, CORE::Caller::Unknown).result, std::optional<bool>(true));
}

TEST_F(PerfmonOperations, OperationNamesMatchWholeIgnoringCase) {
  LogRecorder log;
  auto reply = call(L"COLLECT");
  EXPECT_EQ(reply.result, std::optional<bool>(true));
  EXPECT_EQ(reply.bag.getBag(L"globalCounters").size(), 16u);
  EXPECT_EQ(call(L"COLLECTcpuANDmem").result, std::optional<bool>(true));
  EXPECT_EQ(call(L"Update", counterUpdate({{L"AllSessions", L"1"}})).result, std::optional<bool>(true));

  for (const wchar_t* op : {L"collectCpu", L"collectCpuAndMemory", L"collects", L"", L"delete"}) {
    reply = call(op);
    EXPECT_EQ(reply.result, std::optional<bool>(false)) << op;
    EXPECT_EQ(reply.bag.getError(), 120u) << op;
    EXPECT_TRUE(reply.bag.getErrorText().empty()) << op;
    const std::wstring line = L"Service operation: " + std::wstring(op) + L" NOT IMPLEMENTED";
    EXPECT_EQ(log.count([&](const LogLine& l) { return !l.external && l.level == CORE::Trace && l.text == line; }),
              1u)
        << op;
  }
}

TEST_F(PerfmonOperations, CollectCpuAndMemRepliesTheWatchFigures) {
  auto reply = call(L"collectCpuAndMem");
  EXPECT_EQ(reply.result, std::optional<bool>(true));
  const WatchState& state = WatchState::instance();
  EXPECT_EQ(reply.bag.getInt64(L"CPU", -1), state.getCpu());
  EXPECT_EQ(reply.bag.getInt64(L"MEM", -1), state.getMem());
  EXPECT_EQ(reply.bag.getInt64(L"TOTAL_MEMORY", -1), state.getTotalMemory());
  EXPECT_EQ(reply.bag.getInt64(L"FREE_MEMORY", -1), state.getFreeMemory());
  EXPECT_FALSE(reply.bag.hasError());
}

TEST_F(PerfmonOperations, ConfigPerfmonMetricsIsServed) {
  CORE::PropertyBag request;
  request.set(L"plugin_name", L"tester");
  EXPECT_EQ(call(L"configPerfmonMetrics", request).result, std::optional<bool>(true));
}

}  // namespace
