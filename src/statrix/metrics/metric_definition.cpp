// Metric definition helpers: the identity key, derived names, the defaults and value truncation.
#include "metrics/metric_definition.h"

#include <cmath>
#include <limits>
#include <string>

CORE::corestring counterKey(const MetricDefinition& d) {
  std::wstring key;
  key.reserve(d.strCounterObject.length() + d.strCounter.length() + d.strInstance.length() +
              d.strMetricName.length() + 20);
  key += d.strCounterObject.str();
  key += L'^';
  key += d.strCounter.str();
  key += L'^';
  key += d.strInstance.str();
  key += L'^';
  key += d.strMetricName.str();
  key += L'^';
  // The type is formatted as a signed 32-bit decimal (as "%d" would), the session flag as 0 or 1.
  // Through the narrow to_string: the wide one goes through swprintf, and keys are made for
  // every definition on every collection.
  const std::string type = std::to_string(static_cast<int32_t>(d.dwType));
  key.append(type.begin(), type.end());
  key += L'^';
  key += d.bSessionRelated ? L'1' : L'0';
  return CORE::corestring(std::move(key));
}

CORE::corestring derivedMetricName(const CORE::corestring& object, const CORE::corestring& counter,
                                   const CORE::corestring& instance) {
  return object + L"|" + counter + L"|" + instance;
}

std::vector<MetricDefinition> defaultMetrics() {
  auto make = [](const wchar_t* object, const wchar_t* counter, const wchar_t* instance, const wchar_t* name) {
    MetricDefinition d;
    d.strCounterObject = object;
    d.strCounter = counter;
    d.strInstance = instance;
    d.strMetricName = name;
    d.dwType = 1;
    return d;
  };
  return {
      make(L"System", L"Processor Queue Length", L"", L"PROCESSOR_QUEUE_LENGTH"),
      make(L"Memory", L"Pages Input/sec", L"", L"PAGES_INPUT_PER_SEC"),
      make(L"Memory", L"Pages Output/sec", L"", L"PAGES_OUTPUT_PER_SEC"),
      make(L"PhysicalDisk", L"Avg. Disk sec/Read", L"_Total", L"AVG_DISK_SEC_PER_READ"),
      make(L"PhysicalDisk", L"Avg. Disk sec/Write", L"_Total", L"AVG_DISK_SEC_PER_WRITE"),
      make(L"PhysicalDisk", L"Disk Transfers/sec", L"_Total", L"DISK_IOPS"),
      make(L"PhysicalDisk", L"Current Disk Queue Length", L"_Total", L"CURRENT_DISK_QUEUE_LENGTH"),
  };
}

namespace {
constexpr double kTwoTo63 = 9223372036854775808.0;
}  // namespace

bool fitsMetricValue(double value) { return value >= -kTwoTo63 && value < kTwoTo63; }

int64_t truncateMetricValue(double value) {
  // Converting a double outside the target range is undefined behaviour; saturate instead.
  if (std::isnan(value)) return 0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}
