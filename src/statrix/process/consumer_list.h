// The top consumers of CPU or memory, listed when an overall alarm fires.
#pragma once
#include <cstdint>

#include "process/process_kind.h"
#include "process/process_snapshot.h"

// Lists up to `maxConsumers` (at most 100) processes of the pass's snapshot by their share,
// using the process table of the same pass. `snapshot` may be null. Not built yet: it lists
// nothing.
void listConsumers(ProcessKind kind, const ProcessSnapshot* snapshot, float overallPercent, uint32_t maxConsumers);
