// Session figures: each session's CPU time and private bytes as whole percentages, one bag each.
#include "process/session_metrics.h"

#include <cmath>

int64_t truncatedPercent(int64_t part, uint64_t whole) {
  // Without a whole the share has no value; 0 says "nothing measured" rather than turning 0/0
  // into a NaN and that into an undefined integer.
  if (whole == 0) return 0;
  const double percent = static_cast<double>(part) / static_cast<double>(whole) * 100.0;
  // 2^63 as a double: everything at or beyond it would not convert.
  constexpr double kLimit = 9223372036854775808.0;
  if (!(percent < kLimit)) return percent > 0 ? INT64_MAX : 0;
  if (!(percent > -kLimit)) return INT64_MIN;
  return static_cast<int64_t>(std::trunc(percent));
}

void addSessionCpuMetrics(CORE::PropertyBag& target, const SessionSums& sums, int64_t systemDelta) {
  const uint64_t whole = systemDelta > 0 ? static_cast<uint64_t>(systemDelta) : 0;
  for (const SessionFigures& session : sums.sessions()) {
    CORE::PropertyBag bag;
    bag.addInt(L"sessionId", static_cast<int32_t>(session.sessionId));
    bag.addInt64(L"cpu", truncatedPercent(session.cpuTime, whole));
    target.addBag(L"sessionCpuMetric", bag, false);
  }
}

void addSessionMemMetrics(CORE::PropertyBag& target, const SessionSums& sums, uint64_t totalPhys) {
  for (const SessionFigures& session : sums.sessions()) {
    CORE::PropertyBag bag;
    bag.addInt(L"sessionId", static_cast<int32_t>(session.sessionId));
    bag.addInt64(L"mem", truncatedPercent(session.privateBytes, totalPhys));
    target.addBag(L"sessionMemMetric", bag, false);
  }
}
