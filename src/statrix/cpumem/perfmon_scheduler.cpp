// PerfmonScheduler: the alarm settings, their change notifications and the watch timer's period.
#include "cpumem/perfmon_scheduler.h"

#include <algorithm>
#include <array>

#include "nt/nt_query.h"
#include "cpumem/registry_paths.h"
#include "cpumem/watch_state.h"
#include "frame/log.h"
#include "metrics/metric_publication.h"

namespace {

// The defaults as "name=value" texts, in the order the host receives them.
constexpr std::array<const wchar_t*, 8> kDefaults = {
    L"SamplingIntervalSeconds=30", L"AlarmIntervalSeconds=15",   L"AlarmLogConsumerMax=10",
    L"OverallCpuPercentage=90",    L"OverallMemoryPercentage=90", L"ProcessCpuPercentage=0",
    L"ProcessMemoryPercentage=0",  L"ProcessNameList=*",
};

CORE::corestrmap buildDefaults() {
  CORE::corestrmap defaults;
  for (const wchar_t* text : kDefaults) {
    const CORE::corestring item(text);
    const size_t equals = item.find(L"=");
    defaults[item.substr(0, equals)] = equals == CORE::corestring::npos ? CORE::corestring() : item.substr(equals + 1);
  }
  return defaults;
}

// The longest interval between passes; a longer setting is clamped to it (with a Warn line).
constexpr int32_t kMaxIntervalSeconds = 86400;

// Seconds to a timer period, without wrapping: anything up to 5 s (negative settings too)
// becomes 5 s, anything above the maximum the maximum.
uint32_t intervalMs(int32_t seconds) {
  const int64_t ms = int64_t{std::clamp(seconds, 0, kMaxIntervalSeconds)} * 1000;
  return static_cast<uint32_t>(std::max<int64_t>(ms, 5000));
}

// Converts an interval setting's text, with a Warn line when it is outside 0..the maximum.
int32_t intervalSetting(const wchar_t* name, const CORE::corestring& text) {
  const int32_t seconds = text.toInt(true);
  if (seconds > kMaxIntervalSeconds) {
    LogMessage(CORE::Warn, L"%s \"%s\" is above the maximum of %d seconds; %d seconds are used", name, text,
               kMaxIntervalSeconds, kMaxIntervalSeconds);
  } else if (seconds < 0) {
    LogMessage(CORE::Warn, L"%s \"%s\" is negative; 5 seconds are used", name, text);
  }
  return seconds;
}

}  // namespace

PerfmonScheduler::PerfmonScheduler() = default;

PerfmonScheduler::~PerfmonScheduler() {
  // Unbind first so that no `changed` (which may reschedule) runs on a half-destroyed object,
  // then make sure no pass is running before the timer base goes.
  CORE::sysconfig::cleanup();
  if (isRunning()) StopTimerWithWait();
}

void PerfmonScheduler::start() {
  init(registry_paths::kAlarmSettingsKey, buildDefaults(), true, true);
  // The timer is not running yet, so nothing reads the settings concurrently.
  OverallCpuPercentage = get(L"OverallCpuPercentage").toUInt(true);
  OverallMemoryPercentage = get(L"OverallMemoryPercentage").toUInt(true);
  ProcessCpuPercentage = get(L"ProcessCpuPercentage").toUInt(true);
  ProcessMemoryPercentage = get(L"ProcessMemoryPercentage").toUInt(true);
  ProcessNameList = get(L"ProcessNameList");
  SamplingIntervalSeconds = intervalSetting(L"SamplingIntervalSeconds", get(L"SamplingIntervalSeconds"));
  AlarmIntervalSeconds = intervalSetting(L"AlarmIntervalSeconds", get(L"AlarmIntervalSeconds"));
  AlarmLogConsumerMax = get(L"AlarmLogConsumerMax").toUInt(true);
  WatchState::instance().reset();
  reschedule();
}

void PerfmonScheduler::stop() {
  // No settings change may reschedule (and so restart) the timer once the watch is stopping.
  CORE::sysconfig::cleanup();
  StopTimerWithWait();
  WatchState::instance().reset();
  resetMetricStats();
}

void PerfmonScheduler::changed(const CORE::corestring& name, CORE::corestring& value) {
  CORE::coresync hold(settingsLock());
  CORE::sysconfig::changed(name, value);

  // Every setting takes the signed conversion; the 32 bits are stored as they are, so "-1"
  // in an unsigned setting reads as 4294967295.
  const int32_t number = value.toInt(true);
  const auto asUnsigned = static_cast<uint32_t>(number);
  if (name.comparei(L"SamplingIntervalSeconds") == 0) {
    SamplingIntervalSeconds = intervalSetting(L"SamplingIntervalSeconds", value);
    reschedule();
  } else if (name.comparei(L"AlarmIntervalSeconds") == 0) {
    AlarmIntervalSeconds = intervalSetting(L"AlarmIntervalSeconds", value);
    reschedule();
  } else if (name.comparei(L"AlarmLogConsumerMax") == 0) {
    AlarmLogConsumerMax = asUnsigned;
  } else if (name.comparei(L"OverallCpuPercentage") == 0) {
    OverallCpuPercentage = asUnsigned;
  } else if (name.comparei(L"OverallMemoryPercentage") == 0) {
    OverallMemoryPercentage = asUnsigned;
  } else if (name.comparei(L"ProcessCpuPercentage") == 0) {
    ProcessCpuPercentage = asUnsigned;
  } else if (name.comparei(L"ProcessMemoryPercentage") == 0) {
    ProcessMemoryPercentage = asUnsigned;
  }
}

void PerfmonScheduler::reschedule() {
  WatchState& watch = WatchState::instance();
  uint32_t period = intervalMs(SamplingIntervalSeconds);
  if (watch.cpuAlarm() || watch.memAlarm()) period = std::min(period, intervalMs(AlarmIntervalSeconds));

  if (!nt::resolveQueries()) {
    LogMessage(CORE::Warn, L"PERF-ALERT could not get the address of NtQuerySystemInformation");
    watch.setWatchEnabled(false);
    return;
  }
  // Starts an idle timer, or gives a running one its new period.
  StartTimer(period);
  watch.setWatchEnabled(true);
}
