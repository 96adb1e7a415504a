// Concurrent "update" and "collect" requests: every collect sees each update whole or not at all.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "service_test_env.h"

namespace {

using service_test::call;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new service_test::Environment);

class ConcurrentRequests : public service_test::PluginFixture {
 protected:
  void SetUp() override { start(); }
};

TEST_F(ConcurrentRequests, CollectsSeeEachUpdateWholeOrNotAtAll) {
  constexpr int kWriters = 3;
  constexpr int kReaders = 3;
  constexpr int kRounds = 150;
  const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> out;
    const CORE::PropertyBag store = call(L"collect").bag.getBag(L"globalCounters");
    for (size_t i = 0; i < store.size(); ++i) out.push_back(store.getName(i).str());
    return out;
  }();
  ASSERT_EQ(names.size(), 16u);

  std::atomic<int> writersLeft{kWriters};
  std::atomic<int> torn{0};
  std::atomic<int> collects{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        // One update sets every counter to the same text.
        const std::wstring value = std::to_wstring(w) + L":" + std::to_wstring(round);
        std::vector<std::pair<std::wstring, std::wstring>> values;
        for (const std::wstring& name : names) values.emplace_back(name, value);
        EXPECT_EQ(call(L"update", service_test::counterUpdate(values)).result, std::optional<bool>(true));
      }
      --writersLeft;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      do {
        const CORE::PropertyBag store = call(L"collect").bag.getBag(L"globalCounters");
        ++collects;
        if (store.size() != names.size()) {
          ++torn;
          continue;
        }
        for (size_t i = 1; i < store.size(); ++i)
          if (store.stringAt(i) != store.stringAt(0)) {
            ++torn;
            break;
          }
      } while (writersLeft.load() > 0);
    });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_GE(collects.load(), kReaders);
  const CORE::PropertyBag last = call(L"collect").bag.getBag(L"globalCounters");
  EXPECT_EQ(last.stringAt(0).str().substr(last.stringAt(0).str().find(L':')), L":" + std::to_wstring(kRounds - 1));
}

}  // namespace
