// Wildcard expansion: the concrete definitions a "*" definition stands for.
#pragma once
#include <vector>

#include "metrics/metric_definition.h"

// Every (counter, instance) pair of the object's lists that the definition matches ("*" or an
// equal name), counters outer, in list order. The concrete definitions keep object, session flag
// and type, take the metric name or else "object|counter|instance", and have scale 1.
std::vector<MetricDefinition> expandDefinition(const MetricDefinition& definition,
                                               const std::vector<CORE::corestring>& counters,
                                               const std::vector<CORE::corestring>& instances);
