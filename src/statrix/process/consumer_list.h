// The top consumers of CPU or memory, listed when an overall alarm fires.
#pragma once
#include <cstdint>

#include "process/process_kind.h"
#include "process/process_snapshot.h"
#include "process/process_table.h"

// The most slots a consumer list has, whatever the setting asks for.
inline constexpr uint32_t kMaxConsumerSlots = 100;

// Lists the processes of the pass's snapshot (null: none) with the largest figure of `kind`
// in `table`, at most min(maxConsumers, 100), in descending order (ties keep snapshot order);
// figures that round to 0 are neither listed nor summed. Each listed process gets a "High"
// line; for CPU, a gap of 10 points or more between `overallPercent` and the listed sum is
// explained by the processes new in this pass or by one that has exited. Ends with the
// "PERF-ALERT" / "PROCESS-LIST" broadcast, also when nothing is listed. maxConsumers 0: nothing.
void listConsumers(ProcessKind kind, const ProcessSnapshot* snapshot, const ProcessTable& table, float overallPercent,
                   uint32_t maxConsumers);
