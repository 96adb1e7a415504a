// PulseTimer: an optional watchdog thread that sleeps for a fixed period again and again and
// logs the wake-ups that came late.
#pragma once
#include <atomic>
#include <cstdint>

#include "frame/runnable.h"

class PulseTimer : public CORE::corerunnable {
 public:
  // Settings taken from the plug-in parameters.
  struct Settings {
    uint32_t delayMs = 0;  // "PulseTimerDelay"; 0: no pulse timer
    uint32_t warnMs = 0;   // "PulseTimerWarn", default twice the delay
    bool logAll = false;   // "PulseTimerLogAll"
    static Settings fromParams(const CORE::PropertyBag& params);
  };

  explicit PulseTimer(const Settings& settings);

  void run() override;
  // Ends the thread at once, even in the middle of a sleep, and joins it.
  void stop();

 private:
  uint32_t delayMs;
  uint32_t warnMs;
  CORE::coreevent wakeEvent;  // auto-reset; set by stop
  std::atomic<bool> stopRequested{false};
  bool logAll;
};
