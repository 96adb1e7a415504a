// Per-session CPU and memory figures appended to the help-desk message.
#pragma once
#include "frame/host/host.h"

// Append one "sessionCpuMetric" / "sessionMemMetric" bag per session of the last walk, in
// ascending session order; both take the watch state's lock. Not built yet: they add nothing.
void addSessionCpuMetrics(CORE::PropertyBag& target);
void addSessionMemMetrics(CORE::PropertyBag& target);
