// Process reports: placeholder until the report is built; the walk already calls it.
#include "process/process_report.h"

void reportProcess(ProcessKind, const CORE::corestring&, const ProcessEntryView&, float, bool) {}
