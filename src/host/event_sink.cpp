// Serialised writing of events.
#include "event_sink.h"

#include <cstdio>

#include "human_format.h"
#include "json.h"

namespace vhost {

EventSink::EventSink(std::ostream& out, Mode mode, bool bookkeeping)
    : out_(out), mode_(mode), bookkeeping_(bookkeeping || mode == Mode::Json) {}

void EventSink::emit(const Json& event) {
  if (!bookkeeping_) {
    const std::string name = event.value("event", "");
    if (name == "regwrite" || name == "timer" || name == "worker" || name == "message") return;
  }
  // Build the text outside the lock; only the write itself is serialised.
  writeLine(mode_ == Mode::Json ? dumpLine(event) : humanLine(event));
}

void EventSink::note(std::string_view text) {
  if (mode_ == Mode::Human) writeLine(text);
}

void EventSink::writeLine(std::string_view line) {
  std::string stamped;
  std::lock_guard lock(mutex_);
  if (mode_ == Mode::Human) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%6lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    stamped = prefix;
  }
  stamped += line;
  stamped += '\n';
  out_.write(stamped.data(), static_cast<std::streamsize>(stamped.size()));
  out_.flush();
}

}  // namespace vhost
