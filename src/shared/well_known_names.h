// Names the module and the runner must agree on: registry keys and worker names.
#pragma once

namespace well_known {

// The alarm settings the watch follows and the runner's --set writes.
inline constexpr wchar_t kAlarmSettingsKey[] = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms";
// The help-desk worker the watch sends its figures to; the runner's --helpdesk stands in for it.
inline constexpr wchar_t kHelpdeskWorker[] = L"AgentHelpDesk";

}  // namespace well_known
