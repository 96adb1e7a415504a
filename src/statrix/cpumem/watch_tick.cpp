// One tick of the watch timer: metrics, the sampling pass, the period follow-up, the help-desk message.
#include "cpumem/helpdesk_message.h"
#include "cpumem/perfmon_scheduler.h"
#include "cpumem/stop_flag.h"
#include "cpumem/watch_state.h"
#include "frame/log.h"
#include "metrics/metric_publication.h"

bool PerfmonScheduler::TimerCallback() {
  LogMessage(CORE::Trace, L"TimerCallback for CpuAndMemWatch initiated.");
  WatchState& watch = WatchState::instance();
  if (serviceStopping.load() || !watch.watchEnabled()) return false;

  publishMetricStats();

  // The settings are read once, without the settings lock, and used for the whole pass.
  const bool cpuAlarmBefore = watch.cpuAlarm();
  const bool memAlarmBefore = watch.memAlarm();
  const bool result = watch.CpuAndMemWatch(OverallCpuPercentage, OverallMemoryPercentage, ProcessCpuPercentage,
                                           ProcessMemoryPercentage, AlarmLogConsumerMax, ProcessNameList);
  // An alarm that began or ended switches between the sampling and the alarm interval.
  if (watch.cpuAlarm() != cpuAlarmBefore || watch.memAlarm() != memAlarmBefore) reschedule();

  publishHelpdeskMessage(settingsLock());
  return result;
}
