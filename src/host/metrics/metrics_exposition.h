// The runner's metric families in the Prometheus text format.
#pragma once
#include <string>

#include "metrics/host_figures.h"

namespace vhost {

// Every family is written with HELP and TYPE, also when it has no sample (figures the worker
// did not give, no help-desk message yet).
std::string renderMetrics(const RoundFigures& round, const ObservedFigures& observed);

}  // namespace vhost
