// Reporting one process over a threshold or on a consumer list (log line, "PROCESS-ALARM" broadcast).
#pragma once
#include "frame/host/host.h"
#include "process/process_entry.h"
#include "process/process_kind.h"

// Whether `name` passes the comma-separated pattern list: items are trimmed, an item starting
// with "!" excludes what it matches, the first matching item decides, and a name no item
// matches is not admitted. An empty list admits every name.
bool admitsProcess(const CORE::corestring& nameList, const CORE::corestring& name);

// The process name as reports show it: the image name without its suffix.
CORE::corestring processName(const ProcessEntryView& entry);

// The string-valued bag describing one process: id, name, session, user and the rounded
// figure under "CPU_PERCENTAGE" or "MEMORY_PERCENTAGE". "USER" is left out when `user` is empty.
CORE::PropertyBag processBag(ProcessKind kind, const ProcessEntryView& entry, uint32_t sessionId,
                             const CORE::corestring& user, float percent);

// Reports one process the name list admits: owner and session are looked up, then either the
// listing line ("High ..." / "Missing ...") or, with `isAlarm`, the PROCESS_ALARM line and the
// "PERF-ALERT" / "PROCESS-ALARM" broadcast. `percent` is the unrounded figure.
void reportProcess(ProcessKind kind, const CORE::corestring& nameList, const ProcessEntryView& entry, float percent,
                   bool isAlarm);
