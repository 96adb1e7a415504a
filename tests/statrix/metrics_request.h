// Builds "configPerfmonMetrics" requests for the metric tests: entries and the request around them.
#pragma once
#include <vector>

#include "frame/host/host.h"

namespace metrics_test {

inline CORE::PropertyBag metricEntry(bool isAdd, const wchar_t* name, const wchar_t* object, const wchar_t* counter,
                                     const wchar_t* instance = L"", int32_t scale = 1, bool session = false) {
  CORE::PropertyBag e;
  e.add(L"strMetricName", name);
  e.add(L"strCounterObject", object);
  e.add(L"strCounter", counter);
  e.add(L"strInstance", instance);
  e.addInt(L"dwScale", scale);
  e.addBool(L"bSessionRelated", session);
  e.addBool(L"isAdd", isAdd);
  return e;
}

inline CORE::PropertyBag metricRequest(const wchar_t* plugin, const std::vector<CORE::PropertyBag>& entries) {
  CORE::PropertyBag r;
  r.add(L"plugin_name", plugin);
  for (const auto& e : entries) r.addBag(L"statrixMetrics", e, true);
  return r;
}

}  // namespace metrics_test
