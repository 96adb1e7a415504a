// Names the module and the runner must agree on: registry keys, worker names and reply keys.
#pragma once

namespace well_known {

// The alarm settings the watch follows and the runner's --set writes.
inline constexpr wchar_t kAlarmSettingsKey[] = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms";
// The help-desk worker the watch sends its figures to; the runner's --helpdesk stands in for it.
inline constexpr wchar_t kHelpdeskWorker[] = L"AgentHelpDesk";

// A "collectCpuAndMem" request that holds kWithDetails true is answered with details beside the
// plain entries: "CPU_MEASURED" and "MEM_MEASURED" (bool: the figure is a measurement, not the
// 0 of a watch that has not measured yet) and, after each metric value, a kMetricValue bag with
// the concrete definition the value was read for ("strMetricName", "strCounterObject",
// "strCounter", "strInstance") and the same "value" (i64). The runner's endpoint asks for them.
inline constexpr wchar_t kWithDetails[] = L"WITH_DETAILS";
inline constexpr wchar_t kCpuMeasured[] = L"CPU_MEASURED";
inline constexpr wchar_t kMemMeasured[] = L"MEM_MEASURED";
inline constexpr wchar_t kMetricValue[] = L"METRIC_VALUE";

}  // namespace well_known
