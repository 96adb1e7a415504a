// Process reports: the name filter, the owner and session, the log line and the alarm broadcast.
#include "process/process_report.h"

#include "frame/log.h"
#include "process/format_percent.h"
#include "process/process_owner.h"
#include "process/round_percent.h"

bool admitsProcess(const CORE::corestring& nameList, const CORE::corestring& name) {
  if (nameList.empty()) return true;
  for (const CORE::corestring& item : nameList.split(L',', true)) {
    const bool exclude = item.length() > 0 && item.str()[0] == L'!';
    const CORE::corestring pattern = exclude ? item.substr(1) : item;
    if (name.wildMatch(pattern, false)) return !exclude;
  }
  return false;
}

CORE::corestring processName(const ProcessEntryView& entry) { return CORE::corestring(entry.imageName()).dropSuffix(); }

CORE::PropertyBag processBag(ProcessKind kind, const ProcessEntryView& entry, uint32_t sessionId,
                             const CORE::corestring& user, float percent) {
  CORE::PropertyBag bag;
  bag.set(L"PROCESSID", CORE::corestring(static_cast<int64_t>(entry.uniqueProcessId()), 10));
  bag.set(L"PROCESSNAME", processName(entry));
  bag.set(L"SESSIONID", CORE::corestring(sessionId, 10));
  if (!user.empty()) bag.set(L"USER", user);
  bag.set(kind == ProcessKind::Cpu ? L"CPU_PERCENTAGE" : L"MEMORY_PERCENTAGE",
          CORE::corestring(roundPercent(percent), 10));
  return bag;
}

void reportProcess(ProcessKind kind, const CORE::corestring& nameList, const ProcessEntryView& entry, float percent,
                   bool isAlarm) {
  const CORE::corestring name = processName(entry);
  if (!admitsProcess(nameList, name)) return;

  const auto pid = static_cast<uint32_t>(entry.uniqueProcessId());
  const uint32_t sessionId = CORE::coreportable::getSessionId(pid);
  const CORE::corestring user = processOwner(pid);
  const bool cpu = kind == ProcessKind::Cpu;

  if (!isAlarm) {
    LogMessage(CORE::Info, L"%s %s use: pid=%u, sessionId=%d, name=%s, user=%s, percent=%s",
               CORE::corestring(percent > 0.0f ? L"High" : L"Missing"), CORE::corestring(cpu ? L"CPU" : L"memory"),
               pid, static_cast<int32_t>(sessionId), name, user, formatPercent(percent));
    return;
  }
  LogMessage(CORE::Info, L"PROCESS_ALARM_%s: pid=%u, sessionId=%d, name=%s, user=%s, percent=%u",
             CORE::corestring(cpu ? L"CPU" : L"MEMORY"), pid, static_cast<int32_t>(sessionId), name, user,
             roundPercent(percent));
  CORE::PropertyBag bag = processBag(kind, entry, sessionId, user, percent);
  CORE::Varnel::System()->BroadcastMsg(L"PERF-ALERT", L"PROCESS-ALARM", bag, nullptr, nullptr, false);
}
