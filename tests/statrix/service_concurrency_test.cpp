// Concurrent "update" and "collect" requests: each collect sees an update whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "service_test_env.h"

namespace {

using namespace service_test;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

class ConcurrentRequests : public PluginFixture {
 protected:
  void SetUp() override { start(); }
};

TEST_F(ConcurrentRequests, CollectsSeeEachUpdateWholeOrNotAtAll) {
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
