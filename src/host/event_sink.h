// The one place events are written, from any thread.
//
// One line each, whole, flushed at once, in the order they are emitted.
#pragma once
#include <chrono>
#include <mutex>
#include <ostream>
#include <string_view>

#include "json_fwd.h"

namespace vhost {

class EventSink {
 public:
  enum class Mode { Json, Human };

  // `bookkeeping` false: human mode leaves out registry writes, timer and worker changes and
  // help-desk messages (JSON mode always has every event).
  EventSink(std::ostream& out, Mode mode, bool bookkeeping = true);
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  Mode mode() const { return mode_; }

  // JSON mode: the event as one line of JSON. Human mode: the time since start and a readable
  // line.
  void emit(const Json& event);
  // A remark for the reader that is no event (what the runner is doing); human mode only.
  void note(std::string_view text);

 private:
  void writeLine(std::string_view line);

  std::mutex mutex_;
  std::ostream& out_;
  const Mode mode_;
  const bool bookkeeping_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace vhost
