// The pulse timer's settings, loop and stop.
#include "service/pulse_timer.h"

#include "frame/log.h"

PulseTimer::Settings PulseTimer::Settings::fromParams(const CORE::PropertyBag& params) {
  Settings s;
  s.delayMs = static_cast<uint32_t>(params.getInt(L"PulseTimerDelay", 0));
  // Missing, or not a number: twice the delay (a threshold of 0 would report every pulse late).
  s.warnMs = static_cast<uint32_t>(params.getInt(L"PulseTimerWarn", static_cast<int32_t>(s.delayMs * 2u)));
  s.logAll = params.getBool(L"PulseTimerLogAll", false);
  return s;
}

PulseTimer::PulseTimer(const Settings& settings)
    : delayMs(settings.delayMs),
      warnMs(settings.warnMs),
      wakeEvent(nullptr, nullptr, false, true, 0),
      logAll(settings.logAll) {
  configure("perfmon-PulseTimer", CORE::corerunnable_defaultThreadWrapper, nullptr, THREAD_PRIORITY_ABOVE_NORMAL);
}

void PulseTimer::run() {
  LogMessage(CORE::Debug, L"PulseTimer started");
  uint32_t pulse = 0;
  while (!stopRequested.load()) {
    const DWORD start = GetTickCount();
    if (wakeEvent.wait(delayMs)) break;
    // Unsigned arithmetic: the tick counter's wrap-around does no harm.
    const uint32_t elapsed = static_cast<uint32_t>(GetTickCount() - start);
    const uint32_t lateness = elapsed > delayMs ? elapsed - delayMs : 0;
    if (elapsed > warnMs) {
      LogMessage(CORE::Warn, L"PulseTimer pulse %u delay %u DELAYED", pulse, lateness);
    } else if (logAll) {
      LogMessage(CORE::Trace, L"PulseTimer pulse %u delay %u", pulse, lateness);
    }
    ++pulse;
  }
  LogMessage(CORE::Debug, L"PulseTimer finished");
}

void PulseTimer::stop() {
  stopRequested.store(true);
  wakeEvent.set();
  wait();
}
