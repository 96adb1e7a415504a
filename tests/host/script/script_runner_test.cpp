// Script mode against a stand-in plug-in: line numbers, PluginExit, PluginParams.
#include "script/script_runner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "bag_json.h"

namespace vhost {
namespace {

// The stand-in plug-in's exports record their calls here.
struct Calls {
  int exits = 0;
  std::string lastParams;
} calls;

bool fakeInit() { return true; }
void fakeExit() { ++calls.exits; }
bool fakeParams(CORE::PropertyBag* bag) {
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

// The hostile lines of every kind are run end to end by RunnerScript.HostileLinesNeverEndTheRunner.
TEST_F(ScriptRunnerTest, ParamsGetTheBagBlankLinesCountAndExitRunsPluginExitOnce) {
  std::vector<Json> events = run(
      "{\"cmd\":\"params\",\"bag\":[[\"PulseTimerDelay\",\"i64\",5],[\"x\",\"y\"]]}\n\n   \r\n1e400\n"
      "{\"cmd\":\"exit\"}\n{\"cmd\":\"sleep\",\"ms\":1}\n{\"cmd\":\"exit\"}\n");
  EXPECT_EQ(calls.lastParams, R"([["PulseTimerDelay","i64",5],["x","str","y"]])");
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1]["line"], 4);  // blank lines are skipped but counted
  EXPECT_EQ(dumpLine(events[2]), R"({"event":"exited"})");
  EXPECT_EQ(dumpLine(events[3]), R"({"event":"exited"})");
  EXPECT_EQ(calls.exits, 1);
}

}  // namespace
}  // namespace vhost
