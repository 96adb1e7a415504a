// Reporting one process over a threshold or on a consumer list (log line, "PROCESS-ALARM" broadcast).
#pragma once
#include "frame/host/host.h"
#include "process/process_entry.h"
#include "process/process_kind.h"

// `nameList` is the comma-separated pattern list that admits processes (empty admits all);
// `percent` the unrounded figure; `isAlarm` selects the alarm line and broadcast over the
// listing line. Not built yet: it reports nothing.
void reportProcess(ProcessKind kind, const CORE::corestring& nameList, const ProcessEntryView& entry, float percent,
                   bool isAlarm);
