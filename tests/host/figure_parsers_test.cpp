// Figures read from the bags the plug-in hands to its host.
#include "figure_parsers.h"

#include <gtest/gtest.h>

namespace vhost {
namespace {

CORE::PropertyBag definition(const wchar_t* object, const wchar_t* counter, const wchar_t* instance,
                             const wchar_t* metric, bool isAdd = true) {
  CORE::PropertyBag d;
  d.add(L"strCounterObject", object);
  d.add(L"strCounter", counter);
  d.add(L"strInstance", instance);
  d.add(L"strMetricName", metric);
  d.addBool(L"bSessionRelated", false);
  d.addInt(L"dwType", 0);
  d.addInt(L"dwScale", 1);
  d.addBool(L"isAdd", isAdd);
  return d;
}

TEST(FigureParsers, DefinitionsFromAnnouncedEntries) {
  CORE::PropertyBag request;
  request.addBag(L"statrixMetrics", definition(L"Memory", L"Pages Input/sec", L"", L"pagesIn"), true);
  request.addBag(L"statrixMetrics", definition(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"diskRead"), true);
  request.addBag(L"statrixMetrics", definition(L"X", L"Y", L"", L"removed", false), true);
  request.add(L"plugin_name", L"brask_broker");
  DefinitionMap defs;
  learnDefinitions(request, defs);
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs["diskRead"].object, "PhysicalDisk");
  EXPECT_EQ(defs["diskRead"].counter, "Avg. Disk sec/Read");
  EXPECT_EQ(defs["diskRead"].instance, "_Total");
  EXPECT_EQ(defs["pagesIn"].counter, "Pages Input/sec");
}

TEST(FigureParsers, CpuMemReplyWithMetricsDefinedUnknownAndRepeated) {
  CORE::PropertyBag reply;
  reply.addInt64(L"pagesIn", 12);
  reply.addInt64(L"pagesIn", 13);  // a default stands twice: one series, first value
  reply.addInt64(L"custom", -1);   // no definition known
  reply.setInt64(L"CPU", 42);
  reply.setInt64(L"MEM", 50);
  reply.setInt64(L"TOTAL_MEMORY", 17179);
  reply.setInt64(L"FREE_MEMORY", 8589);
  DefinitionMap defs{{"pagesIn", {"Memory", "Pages Input/sec", ""}}};
  RoundFigures f;
  readCpuMemReply(reply, defs, f);
  EXPECT_TRUE(f.cpuMemAnswered);
  EXPECT_EQ(f.cpuPercent, 42);
  EXPECT_EQ(f.memoryLoadPercent, 50);
  EXPECT_EQ(f.totalBytes, 17179000000u);  // without exact figures, the reply's units
  EXPECT_EQ(f.availableBytes, 8589000000u);
  ASSERT_EQ(f.metrics.size(), 2u);
  EXPECT_EQ(f.metrics[0].metric, "pagesIn");
  EXPECT_EQ(f.metrics[0].definition.object, "Memory");
  EXPECT_EQ(f.metrics[0].value, 12);
  EXPECT_EQ(f.metrics[1].metric, "custom");
  EXPECT_EQ(f.metrics[1].definition.counter, "");
  EXPECT_EQ(f.metrics[1].value, -1);

  RoundFigures exact;
  exact.totalBytes = 17179869184u;
  readCpuMemReply(reply, defs, exact);
  EXPECT_EQ(exact.totalBytes, 17179869184u);  // exact bytes are kept
}

TEST(FigureParsers, CounterStoreKeepsNumbersOnly) {
  CORE::PropertyBag store;
  store.add(L"AllSessions", L"3");
  store.add(L"Secure Gateway Sessions", L"0");
  store.add(L"Broken", L"n/a");
  store.add(L"AllSessions", L"9");  // a repeated name stays one series
  CORE::PropertyBag reply;
  reply.setBag(L"globalCounters", store);
  RoundFigures f;
  readCountersReply(reply, f);
  ASSERT_EQ(f.counters.size(), 2u);
  EXPECT_EQ(f.counters[0], (std::pair<std::string, double>{"AllSessions", 3}));
  EXPECT_EQ(f.counters[1].first, "Secure Gateway Sessions");
}

TEST(FigureParsers, AlarmKindsFromBroadcasts) {
  CORE::PropertyBag cpu, mem, none;
  cpu.add(L"CPU_PERCENTAGE", L"95");
  mem.add(L"MEMORY_PERCENTAGE", L"91");
  EXPECT_EQ(alarmOf("PERF-ALERT", "CPU-ALARM", cpu), AlarmKind::Cpu);
  EXPECT_EQ(alarmOf("PERF-ALERT", "MEMORY-ALARM", mem), AlarmKind::Memory);
  EXPECT_EQ(alarmOf("PERF-ALERT", "PROCESS-ALARM", cpu), AlarmKind::ProcessCpu);
  EXPECT_EQ(alarmOf("PERF-ALERT", "PROCESS-ALARM", mem), AlarmKind::ProcessMemory);
  EXPECT_EQ(alarmOf("PERF-ALERT", "PROCESS-ALARM", none), std::nullopt);
  EXPECT_EQ(alarmOf("PERF-ALERT", "PROCESS-LIST", cpu), std::nullopt);
  EXPECT_EQ(alarmOf("OTHER", "CPU-ALARM", cpu), std::nullopt);
}

TEST(FigureParsers, HelpdeskSessions) {
  CORE::PropertyBag message;
  message.add(L"opcode", L"NewDataFromStatrix");
  message.addInt64(L"overall_cpu", 10);
  for (int session : {1, 2}) {
    CORE::PropertyBag c;
    c.addInt(L"sessionId", session);
    c.addInt64(L"cpu", session * 10);
    message.addBag(L"sessionCpuMetric", c, false);
  }
  CORE::PropertyBag m;
  m.addInt(L"sessionId", 2);
  m.addInt64(L"mem", 140);  // may exceed 100
  message.addBag(L"sessionMemMetric", m, false);
  std::map<uint32_t, int64_t> cpu{{9, 9}}, mem{{9, 9}};
  ASSERT_TRUE(readHelpdeskSessions(message, cpu, mem));
  EXPECT_EQ(cpu, (std::map<uint32_t, int64_t>{{1, 10}, {2, 20}}));  // replaces the last figures
  EXPECT_EQ(mem, (std::map<uint32_t, int64_t>{{2, 140}}));

  CORE::PropertyBag other;
  other.add(L"opcode", L"Something");
  EXPECT_FALSE(readHelpdeskSessions(other, cpu, mem));
  EXPECT_EQ(cpu.size(), 2u);
}

}  // namespace
}  // namespace vhost
