// The events' JSON fields where the end-to-end runner tests do not reach them, their readable
// lines in the human mode, and the sink under concurrent writers (whole lines, each thread's
// events in order).
#include "events.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "event_sink.h"
#include "human_format.h"
#include "json.h"

namespace vhost {
namespace {

TEST(Events, JsonFields) {
  CORE::PropertyBag bare;
  bare.setError(120);
  const std::pair<Json, const char*> cases[] = {
      {events::externalLog(L"threads", 4, L"Begin 'x'"),
       R"({"event":"log","component":"threads","logLevel":4,"text":"Begin 'x'"})"},
      {events::timerStop(), R"({"event":"timer","action":"stop"})"},
      {events::regwrite(L"P", 7, CORE::corestring(L"a\0b", 3), true),
       R"({"event":"regwrite","path":"P","type":"multi_sz","value":["a","b"],"ok":true})"},
      {events::regwrite(L"P", 4, L"oops", false),
       R"({"event":"regwrite","path":"P","type":"dword","value":"oops","ok":false})"},
      {events::regwrite(L"P", 3, L"x", true), R"({"event":"regwrite","path":"P","type":3,"value":"x","ok":true})"},
      {events::reply("x", false, bare),
       R"({"event":"reply","op":"x","result":false,"reply":[],"error":{"code":120,"text":""}})"},
      {events::ticked({}), R"({"event":"ticked","result":null})"},
      {events::ticked({true, false}), R"({"event":"ticked","result":false})"},
  };
  for (const auto& [event, expected] : cases) EXPECT_EQ(dumpLine(event), expected);
}

CORE::PropertyBag processBag(const wchar_t* pid, const wchar_t* name, const wchar_t* user, const wchar_t* key,
                             const wchar_t* percent) {
  CORE::PropertyBag bag;
  bag.set(L"PROCESSID", pid);
  bag.set(L"PROCESSNAME", name);
  bag.set(L"SESSIONID", L"2");
  if (user != nullptr) bag.set(L"USER", user);
  bag.set(key, percent);
  return bag;
}

TEST(HumanFormat, OneReadableLinePerEvent) {
  CORE::PropertyBag inner, bag, denied, list, none, alarm;
  inner.addBool(L"on", true);
  bag.add(L"opcode", L"NewDataFromStatrix");
  bag.addInt(L"overall_cpu", 12);
  bag.addBag(L"sub", inner);
  denied.setError(5, L"NotAuthorized");
  list.setInt(L"numConsumers", 2);
  list.set(L"reason", L"MEMORY");
  list.setBag(L"0", processBag(L"7", L"db", L"SYSTEM", L"MEMORY_PERCENTAGE", L"40"));
  list.setBag(L"1", processBag(L"4321", L"editor", L"host\\alice", L"MEMORY_PERCENTAGE", L"20"));
  none.setInt(L"numConsumers", 0);
  none.set(L"reason", L"CPU");
  alarm.set(L"CPU_PERCENTAGE", L"91");
  const std::pair<Json, const char*> cases[] = {
      {events::message(L"AgentHelpDesk", L"HelpdeskOperation", bag),
       "message to AgentHelpDesk HelpdeskOperation {opcode=\"NewDataFromStatrix\", overall_cpu=12, sub={on=true}}"},
      {events::reply("update", false, denied), "reply to update: false {} error 5 NotAuthorized"},
      // Process alarms and top-consumer lists read as sentences; other broadcasts keep the general form.
      {events::broadcast(L"PERF-ALERT", L"PROCESS-ALARM",
                         processBag(L"4321", L"editor", L"host\\alice", L"CPU_PERCENTAGE", L"61")),
       "process alarm (CPU): pid=4321 name=editor user=host\\alice 61% session=2"},
      {events::broadcast(L"PERF-ALERT", L"PROCESS-ALARM", processBag(L"7", L"db", nullptr, L"MEMORY_PERCENTAGE", L"12")),
       "process alarm (memory): pid=7 name=db 12% session=2"},
      {events::broadcast(L"PERF-ALERT", L"PROCESS-LIST", list),
       "top memory consumers (2): pid=7 name=db user=SYSTEM 40%; pid=4321 name=editor user=host\\alice 20%"},
      {events::broadcast(L"PERF-ALERT", L"PROCESS-LIST", none), "top CPU consumers (0)"},
      {events::broadcast(L"PERF-ALERT", L"CPU-ALARM", alarm),
       "broadcast PERF-ALERT CPU-ALARM {CPU_PERCENTAGE=\"91\"}"},
  };
  for (const auto& [event, expected] : cases) EXPECT_EQ(humanLine(event), expected);
}

TEST(EventSink, ConcurrentEventsStayWholeLinesInOrder) {
  std::ostringstream out;
  EventSink sink(out, EventSink::Mode::Json);
  constexpr int kThreads = 6, kEach = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&sink, t] {
      for (int i = 0; i < kEach; ++i)
        sink.emit(Json{{"event", "log"}, {"thread", t}, {"seq", i}, {"text", std::string(50 + i % 7, 'x')}});
    });
  for (std::thread& t : threads) t.join();

  std::vector<std::string> all;
  std::istringstream in(out.str());
  for (std::string l; std::getline(in, l);) all.push_back(l);
  ASSERT_EQ(all.size(), size_t{kThreads * kEach});
  std::map<int, int> next;
  for (const std::string& l : all) {
    Json e = Json::parse(l);  // throws (fails the test) on a torn line
    int t = e["thread"];
    EXPECT_EQ(e["seq"].get<int>(), next[t]++);
  }
}

}  // namespace
}  // namespace vhost
