// Helpers for the service tests: a plug-in brought up and down around each test, and requests
// to the "perfmon" worker as the framework sends them.
#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "frame/exports.h"
#include "service/service_globals.h"
#include "frame_test_env.h"

namespace service_test {

// Registry root of our own and host timers that only fire when told to, so that the watch's
// timer stays out of the way; set once per test program.
class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    frame_test::useTemporaryRegistry();
    CORE::setManualTimers(true);
  }
};

struct Reply {
  std::optional<bool> result;  // empty: the worker was not installed
  CORE::PropertyBag bag;
};

inline Reply call(const wchar_t* op, CORE::PropertyBag request = {}, CORE::Caller caller = CORE::Caller::Admin) {
  Reply reply;
  reply.result = CORE::requestWorker(L"perfmon", op, request, reply.bag, caller);
  return reply;
}

// A request whose "globalCounters" sub-bag holds the given name/value pairs.
inline CORE::PropertyBag counterUpdate(const std::vector<std::pair<std::wstring, std::wstring>>& values) {
  CORE::PropertyBag counters;
  for (const auto& [name, value] : values) counters.set(name, value);
  CORE::PropertyBag request;
  request.setBag(L"globalCounters", counters);
  return request;
}

// The "globalCounters" store of a "collect" reply as name/value pairs, in order.
inline std::vector<std::pair<std::wstring, std::wstring>> collected() {
  Reply reply = call(L"collect");
  EXPECT_EQ(reply.result, std::optional<bool>(true));
  const CORE::PropertyBag store = reply.bag.getBag(L"globalCounters");
  std::vector<std::pair<std::wstring, std::wstring>> out;
  for (size_t i = 0; i < store.size(); ++i) out.emplace_back(store.getName(i).str(), store.stringAt(i).str());
  return out;
}

// Starts the plug-in with `params` and waits until "perfmon" is registered; PluginExit at the
// end of the test.
class PluginFixture : public ::testing::Test {
 protected:
  void start(CORE::PropertyBag params = {}) {
    ASSERT_TRUE(PluginParams(&params));
    ASSERT_TRUE(PluginInit());
    started_ = true;
    ASSERT_TRUE(CORE::waitForWorker(L"perfmon", true, 20000));
  }
  void TearDown() override {
    if (started_) PluginExit();
    CORE::PropertyBag none;
    PluginParams(&none);
    // Set for good by a service's destruction; the next test brings up a new service.
    serviceStopping = false;
  }
  void exited() { started_ = false; }

 private:
  bool started_ = false;
};

}  // namespace service_test
