// PerfmonScheduler: the CPU and memory watch's driver: the eight alarm settings bound to the
// registry and the watch timer whose callback runs one sampling pass.
#pragma once
#include "frame/host/host.h"

class PerfmonScheduler : public CORE::sysconfig, public CORE::coretimer {
 public:
  PerfmonScheduler();
  ~PerfmonScheduler() override;

  // Binds and reads the settings, resets the watch state and starts the timer.
  void start();
  // Stops the timer (waiting for a running pass), resets the watch state and metric values.
  void stop();
  void changed(const CORE::corestring& name, CORE::corestring& value) override;
  void reschedule();
  bool TimerCallback() override;

  // (The settings members and the rest of the watch are declared by the watch's own files.)
};
