// Helpers for the service tests: the plug-in brought up and down around each test, and requests
// to the "perfmon" worker as the framework sends them.
#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cpumem_watch_env.h"
#include "frame/exports.h"
#include "service/service_globals.h"

namespace service_test {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

struct Reply {
  std::optional<bool> result;  // empty: the worker was not installed
  CORE::PropertyBag bag;
};

inline Reply call(const wchar_t* op, CORE::PropertyBag request = {}, CORE::Caller caller = CORE::Caller::Admin) {
  Reply reply;
  reply.result = CORE::requestWorker(L"perfmon", op, request, reply.bag, caller);
  return reply;
}

// A request whose "globalCounters" sub-bag holds `values`.
inline CORE::PropertyBag counterUpdate(const Pairs& values) {
  CORE::PropertyBag counters, request;
  for (const auto& [name, value] : values) counters.add(name, value);
  request.setBag(L"globalCounters", counters);
  return request;
}

// The counter store as "collect" returns it, in order.
inline Pairs collected() {
  const CORE::PropertyBag store = call(L"collect").bag.getBag(L"globalCounters");
  Pairs out;
  for (size_t i = 0; i < store.size(); ++i) out.emplace_back(store.getName(i).str(), store.stringAt(i).str());
  return out;
}

// start() brings the plug-in up with `params` and waits for "perfmon"; the test's end takes it
// down again. The program gets a registry root of its own, and host timers that fire only when
// told to (the watch's timer stays out of the way).
class PluginFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watch_test::temporaryRegistry();
    CORE::setManualTimers(true);
  }
  void start(CORE::PropertyBag params = {}) {
    ASSERT_TRUE(PluginParams(&params));
    ASSERT_TRUE(PluginInit());
    running_ = true;
    ASSERT_TRUE(CORE::waitForWorker(L"perfmon", true, 20000));
  }
  void exit() {
    PluginExit();
    running_ = false;
  }
  void TearDown() override {
    if (running_) PluginExit();
    CORE::PropertyBag none;
    PluginParams(&none);
    serviceStopping = false;  // set for good by a service's end; the next test starts a new one
  }

 private:
  bool running_ = false;
};

}  // namespace service_test
