// CORE::coretimer: a periodic timer with its own thread; callbacks of one timer never overlap.
#pragma once
#include <cstdint>
#include <memory>

#include "varnel/coreref.h"

namespace CORE {

class VARNEL_API coretimer : public corerefex<coretimer> {
 public:
  coretimer();
  ~coretimer() override;  // stops the timer, waiting for a running callback

  // Starts an idle timer with the period, or gives a running one its new period (the next
  // callback comes one new period after the call). True on success.
  bool StartTimer(uint32_t periodMs);
  // Stops the timer and waits for a running callback. Any thread but the callback's own.
  void StopTimerWithWait();
  bool isRunning() const;

  // The callback, run on the timer's thread once per period.
  virtual bool TimerCallback() = 0;

  struct State;  // shared with the host's timer registry (manual ticks)

 private:
  std::shared_ptr<State> state_;
};

}  // namespace CORE
