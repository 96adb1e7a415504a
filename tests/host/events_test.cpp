// The events' JSON fields, and their readable lines in the human mode.
#include "events.h"

#include <gtest/gtest.h>

#include "human_format.h"

namespace vhost {
namespace {

std::string line(const Json& e) { return dumpLine(e); }

TEST(Events, FrameworkNotices) {
  EXPECT_EQ(line(events::sysLog(0, L"statrix", L"varnelPluginDll wait for threads to go")),
            R"({"event":"log","level":0,"source":"statrix","text":"varnelPluginDll wait for threads to go"})");
  EXPECT_EQ(line(events::externalLog(L"threads", 4, L"Begin 'x'")),
            R"({"event":"log","component":"threads","logLevel":4,"text":"Begin 'x'"})");
  EXPECT_EQ(line(events::loaded(L"statrix")), R"({"event":"loaded","module":"statrix"})");
  CORE::PropertyBag bag;
  bag.add(L"CPU-ALARM", L"95");
  EXPECT_EQ(line(events::broadcast(L"PERF-ALERT", L"CPU-ALARM", bag)),
            R"({"event":"broadcast","name":"PERF-ALERT","name2":"CPU-ALARM","bag":[["CPU-ALARM","str","95"]]})");
  EXPECT_EQ(line(events::message(L"AgentHelpDesk", L"HelpdeskOperation", bag)),
            R"({"event":"message","worker":"AgentHelpDesk","op":"HelpdeskOperation","bag":[["CPU-ALARM","str","95"]]})");
  EXPECT_EQ(line(events::timerStart(5000)), R"({"event":"timer","action":"start","period":5000})");
  EXPECT_EQ(line(events::timerStop()), R"({"event":"timer","action":"stop"})");
  EXPECT_EQ(line(events::workerChanged(L"perfmon", true)), R"({"event":"worker","name":"perfmon","action":"added"})");
}

TEST(Events, RegistryValuesByType) {
  EXPECT_EQ(line(events::regwrite(L"HKLM\\S\\CpuPercentage", 4, L"42", true)),
            R"({"event":"regwrite","path":"HKLM\\S\\CpuPercentage","type":"dword","value":42,"ok":true})");
  EXPECT_EQ(line(events::regwrite(L"P", 7, CORE::corestring(L"a\0b", 3), true)),
            R"({"event":"regwrite","path":"P","type":"multi_sz","value":["a","b"],"ok":true})");
  EXPECT_EQ(line(events::regwrite(L"P", 4, L"oops", true)),
            R"({"event":"regwrite","path":"P","type":"dword","value":"oops","ok":true})");
  EXPECT_EQ(line(events::regwrite(L"P", 3, L"x", true)),
            R"({"event":"regwrite","path":"P","type":3,"value":"x","ok":true})");

  EXPECT_EQ(line(events::registry("P", std::nullopt)), R"({"event":"registry","path":"P","type":null,"value":null})");
  EXPECT_EQ(line(events::registry("P", CORE::RegistryValue{4, L"4294967295", {}})),
            R"({"event":"registry","path":"P","type":"dword","value":4294967295})");
  EXPECT_EQ(line(events::registry("P", CORE::RegistryValue{7, L"", {L"x", L"y z"}})),
            R"({"event":"registry","path":"P","type":"multi_sz","value":["x","y z"]})");
  EXPECT_EQ(line(events::registry("P", CORE::RegistryValue{1, L"%n%s \"q\"", {}})),
            R"({"event":"registry","path":"P","type":"sz","value":"%n%s \"q\""})");
}

TEST(Events, Replies) {
  EXPECT_EQ(line(events::reply("collect", std::nullopt, CORE::PropertyBag())),
            R"({"event":"reply","op":"collect","result":false,"host_error":"worker not installed"})");
  CORE::PropertyBag ok;
  ok.addInt(L"CPU", 7);
  EXPECT_EQ(line(events::reply("collect", true, ok)),
            R"({"event":"reply","op":"collect","result":true,"reply":[["CPU","i32",7]]})");
  CORE::PropertyBag denied;
  denied.setError(5, L"NotAuthorized");
  EXPECT_EQ(line(events::reply("update", false, denied)),
            R"({"event":"reply","op":"update","result":false,"reply":[],"error":{"code":5,"text":"NotAuthorized"}})");
  CORE::PropertyBag bare;
  bare.setError(120);
  EXPECT_EQ(line(events::reply("x", false, bare)),
            R"({"event":"reply","op":"x","result":false,"reply":[],"error":{"code":120,"text":""}})");
}

TEST(Events, ScriptAnswers) {
  EXPECT_EQ(line(events::ticked({})), R"({"event":"ticked","result":null})");
  EXPECT_EQ(line(events::ticked({true})), R"({"event":"ticked","result":true})");
  EXPECT_EQ(line(events::ticked({true, false})), R"({"event":"ticked","result":false})");
  EXPECT_EQ(line(events::regset("P")), R"({"event":"regset","path":"P"})");
  EXPECT_EQ(line(events::workerState("perfmon", true)), R"({"event":"worker","name":"perfmon","installed":true})");
  EXPECT_EQ(line(events::params(true)), R"({"event":"params","result":true})");
  EXPECT_EQ(line(events::exited()), R"({"event":"exited"})");
  EXPECT_EQ(line(events::error(3, "unknown command \"x\"")),
            R"({"event":"error","line":3,"text":"unknown command \"x\""})");
}

TEST(HumanFormat, OneReadableLinePerEvent) {
  CORE::PropertyBag inner;
  inner.addBool(L"on", true);
  CORE::PropertyBag bag;
  bag.add(L"opcode", L"NewDataFromStatrix");
  bag.addInt(L"overall_cpu", 12);
  bag.addBag(L"sub", inner);
  EXPECT_EQ(humanLine(events::sysLog(3, L"statrix", L"slow")), "log Warn statrix: slow");
  EXPECT_EQ(humanLine(events::externalLog(L"threads", 4, L"Begin")), "log threads/4: Begin");
  EXPECT_EQ(humanLine(events::message(L"AgentHelpDesk", L"HelpdeskOperation", bag)),
            "message to AgentHelpDesk HelpdeskOperation {opcode=\"NewDataFromStatrix\", overall_cpu=12, sub={on=true}}");
  EXPECT_EQ(humanLine(events::regwrite(L"P", 4, L"5", false)), "registry write P = 5 (dword) FAILED");
  EXPECT_EQ(humanLine(events::timerStart(100)), "timer started, period 100 ms");
  EXPECT_EQ(humanLine(events::workerState("perfmon", false)), "worker perfmon is not installed");
  EXPECT_EQ(humanLine(events::reply("collect", std::nullopt, {})), "reply to collect: worker not installed");
  CORE::PropertyBag denied;
  denied.setError(5, L"NotAuthorized");
  EXPECT_EQ(humanLine(events::reply("update", false, denied)), "reply to update: false {} error 5 NotAuthorized");
  EXPECT_EQ(humanLine(Json{{"event", "new"}, {"x", 1}}), R"({"event":"new","x":1})");
}

}  // namespace
}  // namespace vhost
