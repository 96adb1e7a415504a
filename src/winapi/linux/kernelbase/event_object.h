// The kernel object behind an event handle: manual- or auto-reset signal state.
#pragma once
#include "kernelbase/waitable.h"

namespace winapi_linux {

class EventObject final : public Waitable {
 public:
  EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

  void set();
  void reset();

  bool signalledLocked() const override { return signalled_; }
  // An auto-reset event lets exactly one satisfied wait through per set().
  void acquireLocked() override {
    if (!manualReset_) signalled_ = false;
  }

 private:
  const bool manualReset_;
  bool signalled_;  // guarded by dispatcher().mutex
};

}  // namespace winapi_linux
