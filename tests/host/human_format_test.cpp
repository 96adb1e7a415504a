// Human mode: process alarms and top-consumer lists as readable lines.
#include <gtest/gtest.h>

#include "events.h"
#include "human_format.h"

namespace vhost {
namespace {

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

TEST(HumanFormat, ProcessAlarmsAndConsumerListsReadAsSentences) {
  EXPECT_EQ(humanLine(events::broadcast(L"PERF-ALERT", L"PROCESS-ALARM",
                                        processBag(L"4321", L"editor", L"host\\alice", L"CPU_PERCENTAGE", L"61"))),
            "process alarm (CPU): pid=4321 name=editor user=host\\alice 61% session=2");
  EXPECT_EQ(humanLine(events::broadcast(L"PERF-ALERT", L"PROCESS-ALARM",
                                        processBag(L"7", L"db", nullptr, L"MEMORY_PERCENTAGE", L"12"))),
            "process alarm (memory): pid=7 name=db 12% session=2");

  CORE::PropertyBag list;
  list.setInt(L"numConsumers", 2);
  list.set(L"reason", L"MEMORY");
  list.setBag(L"0", processBag(L"7", L"db", L"SYSTEM", L"MEMORY_PERCENTAGE", L"40"));
  list.setBag(L"1", processBag(L"4321", L"editor", L"host\\alice", L"MEMORY_PERCENTAGE", L"20"));
  EXPECT_EQ(humanLine(events::broadcast(L"PERF-ALERT", L"PROCESS-LIST", list)),
            "top memory consumers (2): pid=7 name=db user=SYSTEM 40%; pid=4321 name=editor user=host\\alice 20%");
  CORE::PropertyBag none;
  none.setInt(L"numConsumers", 0);
  none.set(L"reason", L"CPU");
  EXPECT_EQ(humanLine(events::broadcast(L"PERF-ALERT", L"PROCESS-LIST", none)), "top CPU consumers (0)");

  // Other broadcasts keep the general form.
  CORE::PropertyBag alarm;
  alarm.set(L"CPU_PERCENTAGE", L"91");
  EXPECT_EQ(humanLine(events::broadcast(L"PERF-ALERT", L"CPU-ALARM", alarm)),
            "broadcast PERF-ALERT CPU-ALARM {CPU_PERCENTAGE=\"91\"}");
}

}  // namespace
}  // namespace vhost
