// Per-session CPU and memory figures appended to the help-desk message.
#pragma once
#include <cstdint>

#include "frame/host/host.h"
#include "process/session_sums.h"

// Whole percent of `part` in `whole`, truncated toward zero; 0 when `whole` is 0 (no processor
// time passed, or no memory total), and clamped to the 64-bit range instead of overflowing.
int64_t truncatedPercent(int64_t part, uint64_t whole);

// Append one "sessionCpuMetric" bag ("sessionId", "cpu") per session of `sums`, in ascending
// session order, with "cpu" the session's share of `systemDelta`. The caller holds the lock
// that guards `sums`.
void addSessionCpuMetrics(CORE::PropertyBag& target, const SessionSums& sums, int64_t systemDelta);
// The same as "sessionMemMetric" bags ("sessionId", "mem"), with "mem" the session's private
// bytes as a share of `totalPhys` (above 100 when they exceed physical memory).
void addSessionMemMetrics(CORE::PropertyBag& target, const SessionSums& sums, uint64_t totalPhys);
