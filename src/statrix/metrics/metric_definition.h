// One performance-counter metric: its definition record, identity key, value record and the seven defaults.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "frame/host/host.h"

// Object and counter are English names; the instance is used as it stands. "*" as counter or
// instance stands for every counter or instance of the object.
struct MetricDefinition {
  CORE::corestring strCounterObject;
  CORE::corestring strCounter;
  CORE::corestring strInstance;
  CORE::corestring strMetricName;
  bool bSessionRelated = false;
  uint32_t dwType = 0;  // the requester's type number: keyed, stored and returned, nothing else
  uint32_t dwScale = 1;
};

// "object^counter^instance^metric^type^session": definitions with equal keys share one counter,
// whatever their scales. Compared ordinally (case-sensitive).
CORE::corestring counterKey(const MetricDefinition& definition);

// The name of a definition expanded from a "*" definition without a metric name:
// "object|counter|instance".
CORE::corestring derivedMetricName(const CORE::corestring& object, const CORE::corestring& counter,
                                   const CORE::corestring& instance);

// A definition's fields and the value read for it (already scaled).
struct MetricValue {
  MetricDefinition definition;
  double value = 0.0;
};

// The seven built-in metrics, in their fixed order (type 1, scale 1, not session-related).
std::vector<MetricDefinition> defaultMetrics();

// True when the value truncates to a signed 64-bit integer: finite and in [-2^63, 2^63).
bool fitsMetricValue(double value);

// A value as the 64-bit integer of replies and messages: truncated toward zero. Reads whose
// scaled value does not fit fail before they get here; as a last guard a value that has no such
// integer saturates: NaN gives 0, the rest the nearest limit.
int64_t truncateMetricValue(double value);
