// Script mode against a stand-in plug-in: bad lines, line numbers, PluginExit, PluginParams.
#include "script_runner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "bag_json.h"

namespace vhost {
namespace {

// The stand-in plug-in's exports record their calls here.
struct Calls {
  int exits = 0;
  int params = 0;
  bool lastParamsNull = false;
  std::string lastParams;
} calls;

bool fakeInit() { return true; }
void fakeExit() { ++calls.exits; }
bool fakeParams(CORE::PropertyBag* bag) {
  ++calls.params;
  calls.lastParamsNull = bag == nullptr;
  calls.lastParams = bag ? dumpLine(bagToJson(*bag)) : "";
  return true;
}

class ScriptRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { calls = Calls{}; }

  std::vector<Json> run(const std::string& script) {
    std::ostringstream out;
    EventSink sink(out, EventSink::Mode::Json);
    PluginCalls plugin(PluginApi{&fakeInit, &fakeExit, &fakeParams});
    std::istringstream in(script);
    ScriptRunner(sink, plugin, nullptr).run(in);
    std::vector<Json> events;
    std::istringstream lines(out.str());
    for (std::string l; std::getline(lines, l);) events.push_back(Json::parse(l));
    return events;
  }
};

// Lines a hostile writer might send: each one is an error event on its own line number, and
// the commands after it still run.
TEST_F(ScriptRunnerTest, HostileLinesAreErrorsAndTheScriptGoesOn) {
  const std::string deepObject = std::string(10000, '{') + std::string(10000, '}');
  std::string deepBag;
  for (int i = 0; i < 10000; ++i) deepBag += "{\"a\":";
  deepBag += "1" + std::string(10000, '}');
  std::string script = "{\"cmd\":\"sleep\",\"ms\":1e999}\n"
                       "1e400\n"
                       "{\"cmd\":\"params\",\"bag\":{\"x\":1}}" + std::string(1, '\0') + "{{{garbage\n" +
                       "{\"op\":\"collect\",\"request\":" + deepBag + "}\n" +
                       "{\"cmd\":\"params\",\"bag\":" + deepBag + "}\n" +
                       std::string(100000, '[') + std::string(100000, ']') + "\n\n   \r\n" + deepObject + "\n" +
                       "{\"cmd\":\"params\",\"bag\":null}\n";
  std::vector<Json> events = run(script);
  ASSERT_EQ(events.size(), 8u);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(events[i]["event"], "error") << dumpLine(events[i]);
    EXPECT_EQ(events[i]["line"], i < 6 ? i + 1 : 9);  // blank lines are skipped but counted
    // The text names the fault; it never echoes the whole line.
    EXPECT_LT(events[i]["text"].get<std::string>().size(), 300u) << dumpLine(events[i]);
  }
  EXPECT_EQ(dumpLine(events[7]), R"({"event":"params","result":true})");
  EXPECT_EQ(calls.params, 1);
  EXPECT_TRUE(calls.lastParamsNull);
}

TEST_F(ScriptRunnerTest, ParamsGetTheBagAndExitRunsPluginExitOnce) {
  std::vector<Json> events = run(
      "{\"cmd\":\"params\",\"bag\":[[\"PulseTimerDelay\",\"i64\",5],[\"x\",\"y\"]]}\n"
      "{\"cmd\":\"exit\"}\n{\"cmd\":\"sleep\",\"ms\":1}\n{\"cmd\":\"exit\"}\n");
  EXPECT_EQ(calls.lastParams, R"([["PulseTimerDelay","i64",5],["x","str","y"]])");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(dumpLine(events[1]), R"({"event":"exited"})");
  EXPECT_EQ(dumpLine(events[2]), R"({"event":"exited"})");
  EXPECT_EQ(calls.exits, 1);
}

TEST_F(ScriptRunnerTest, HelpdeskWithoutFrameworkIsAnError) {
  std::vector<Json> events = run(R"({"cmd":"helpdesk","installed":true})");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(dumpLine(events[0]), R"({"event":"error","line":1,"text":"cannot install the help-desk worker"})");
}

}  // namespace
}  // namespace vhost
