// Per-session sums: sorted-vector map with a shortcut for runs of the same session.
#include "process/session_sums.h"

#include <algorithm>

namespace {

auto lowerBound(const std::vector<SessionFigures>& sessions, uint32_t sessionId) {
  return std::lower_bound(sessions.begin(), sessions.end(), sessionId,
                          [](const SessionFigures& s, uint32_t id) { return s.sessionId < id; });
}

}  // namespace

void SessionSums::add(uint32_t sessionId, int64_t cpuTime, int64_t privateBytes) {
  if (last_ >= sessions_.size() || sessions_[last_].sessionId != sessionId) {
    auto it = lowerBound(sessions_, sessionId);
    if (it == sessions_.end() || it->sessionId != sessionId) it = sessions_.insert(it, SessionFigures{sessionId, 0, 0});
    last_ = static_cast<size_t>(it - sessions_.begin());
  }
  sessions_[last_].cpuTime += cpuTime;
  sessions_[last_].privateBytes += privateBytes;
}

const SessionFigures* SessionSums::find(uint32_t sessionId) const {
  auto it = lowerBound(sessions_, sessionId);
  return (it != sessions_.end() && it->sessionId == sessionId) ? &*it : nullptr;
}
