// The "perfmon" operations: the counter store, name matching, the watch figures, and concurrent
// updates and collects.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "cpumem/watch_state.h"
#include "service_test_env.h"

namespace {

using frame_test::LogLine;
using frame_test::LogRecorder;
using namespace service_test;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

Pairs seeded(const Pairs& changes = {}) {
  Pairs out;
  for (const wchar_t* name :
       {L"AllSessions", L"AllSessionsHigh", L"ZentSessions", L"ZentSessionsHigh", L"FullVmSessions",
        L"FullVmSessionsHigh", L"UnmanagedSessions", L"UnmanagedSessionsHigh", L"Secure Gateway Sessions",
        L"Secure Gateway Sessions High", L"Dravex Gateway Sessions", L"Dravex Gateway Sessions High",
        L"DesktopSessions", L"DesktopSessionsHigh", L"ApplicationSessions", L"ApplicationSessionsHigh"})
    out.emplace_back(name, L"0");
  for (const auto& change : changes) {
    auto it = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == change.first; });
    if (it == out.end()) out.push_back(change);
    else it->second = change.second;
  }
  return out;
}

class PerfmonOperations : public PluginFixture {
 protected:
  void SetUp() override { start(); }
};

TEST_F(PerfmonOperations, UpdatesByAnAdministratorReachTheStoreByExactName) {
  EXPECT_EQ(collected(), seeded());
  const Pairs changes = {{L"DesktopSessions", L"7"}, {L"Secure Gateway Sessions High", L"3"}};
  auto reply = call(L"update", counterUpdate(changes));
  EXPECT_EQ(reply.result, true);
  EXPECT_FALSE(reply.bag.hasError());
  EXPECT_EQ(collected(), seeded(changes));

  // An unknown name becomes the seventeenth; a request without or with an empty sub-bag
  // changes nothing and succeeds.
  EXPECT_EQ(call(L"update", counterUpdate({{L"ExtraSessions", L"many"}})).result, true);
  EXPECT_EQ(call(L"update").result, true);
  EXPECT_EQ(call(L"update", counterUpdate({})).result, true);
  Pairs expected = seeded(changes);
  expected.emplace_back(L"ExtraSessions", L"many");
  EXPECT_EQ(collected(), expected);
}

TEST_F(PerfmonOperations, AnUpdateInAnotherCaseNeverRenamesACounter) {
  const Pairs changes = {{L"DesktopSessions", L"7"}, {L"desktopsessions", L"9"}, {L"ALLSESSIONS", L"1"},
                         {L"desktopsessions", L"10"}};
  EXPECT_EQ(call(L"update", counterUpdate(changes)).result, true);
  // The seeded spellings stay with their values; the other spellings are names of their own.
  Pairs expected = seeded({{L"DesktopSessions", L"7"}});
  expected.emplace_back(L"desktopsessions", L"10");
  expected.emplace_back(L"ALLSESSIONS", L"1");
  EXPECT_EQ(collected(), expected);
}

TEST_F(PerfmonOperations, NamesMatchWholeIgnoringCase) {
  LogRecorder log;
  EXPECT_EQ(call(L"COLLECT").bag.getBag(L"globalCounters").size(), 16u);
  EXPECT_EQ(call(L"Update", counterUpdate({{L"AllSessions", L"1"}})).result, true);
  EXPECT_EQ(call(L"configPERFMONmetrics").result, true);

  for (const std::wstring op : {L"collectCpu", L"collectCpuAndMemory", L"", L"delete"}) {
    auto reply = call(op.c_str());
    EXPECT_EQ(reply.result, false) << op;
    EXPECT_EQ(reply.bag.getError(), 120u) << op;
    EXPECT_TRUE(reply.bag.getErrorText().empty()) << op;
    EXPECT_EQ(log.count([&](const LogLine& l) {
      return l.level == CORE::Trace && l.text == L"Service operation: " + op + L" NOT IMPLEMENTED";
    }),
              1u)
        << op;
  }
}

TEST_F(PerfmonOperations, CollectCpuAndMemRepliesTheWatchFigures) {
  auto reply = call(L"collectCpuAndMem");
  EXPECT_EQ(reply.result, true);
  const WatchState& state = WatchState::instance();
  EXPECT_EQ(reply.bag.getInt64(L"CPU", -1), state.getCpu());
  EXPECT_EQ(reply.bag.getInt64(L"MEM", -1), state.getMem());
  EXPECT_EQ(reply.bag.getInt64(L"TOTAL_MEMORY", -1), state.getTotalMemory());
  EXPECT_EQ(reply.bag.getInt64(L"FREE_MEMORY", -1), state.getFreeMemory());
}

TEST_F(PerfmonOperations, ConcurrentCollectsSeeEachUpdateWholeOrNotAtAll) {
  constexpr int kThreads = 3, kRounds = 150;
  const Pairs names = collected();
  std::atomic<int> writing{kThreads}, torn{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        Pairs values = names;  // one update gives every counter the same text
        for (auto& entry : values) entry.second = std::to_wstring(w) + L":" + std::to_wstring(round);
        EXPECT_EQ(call(L"update", counterUpdate(values)).result, true);
      }
      --writing;
    });
    threads.emplace_back([&] {
      do {
        const Pairs store = collected();
        if (store.size() != names.size() ||
            std::any_of(store.begin(), store.end(), [&](const auto& e) { return e.second != store[0].second; }))
          ++torn;
      } while (writing > 0);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  // The last update applied is some writer's last round.
  const std::wstring last = collected()[0].second;
  EXPECT_EQ(last.substr(last.find(L':')), L":" + std::to_wstring(kRounds - 1));
}

}  // namespace
