// Reading and removing alarm settings through the registry.
#include "human/alarm_settings.h"

#include <algorithm>

#include "varnel/host_control.h"
#include "well_known_names.h"
#include "winapi.h"

namespace vhost {

namespace {

struct Default {
  const char* name;
  const char* value;
};
constexpr Default kDefaults[] = {
    {"SamplingIntervalSeconds", "30"}, {"AlarmIntervalSeconds", "15"},   {"OverallCpuPercentage", "90"},
    {"OverallMemoryPercentage", "90"}, {"ProcessCpuPercentage", "0"},    {"ProcessMemoryPercentage", "0"},
    {"ProcessNameList", "*"},          {"AlarmLogConsumerMax", "10"},
};

std::string valueText(const CORE::RegistryValue& value) {
  if (value.type != 7) return value.text.utf8();
  std::string joined;
  for (const CORE::corestring& item : value.items) joined += (joined.empty() ? "" : ",") + item.utf8();
  return joined;
}

}  // namespace

std::vector<SettingSource> readAlarmSettings(const std::vector<std::string>& setNow) {
  std::vector<SettingSource> settings;
  for (const Default& d : kDefaults) {
    SettingSource s{d.name, d.value, SettingSource::From::Default};
    CORE::corestring path = CORE::corestring(well_known::kAlarmSettingsKey) + L"\\" + CORE::corestring::fromUtf8(d.name);
    if (std::optional<CORE::RegistryValue> value = CORE::registryRead(path)) {
      s.value = valueText(*value);
      s.from = std::find(setNow.begin(), setNow.end(), s.name) != setNow.end() ? SettingSource::From::CommandLine
                                                                               : SettingSource::From::Registry;
    }
    settings.push_back(std::move(s));
  }
  return settings;
}

bool unsetAlarmSetting(const std::string& name, std::string& error) {
  // The key without its "HKLM\" root.
  const std::wstring subKey = std::wstring(well_known::kAlarmSettingsKey).substr(5);
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_SET_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key, CORE::corestring::fromUtf8(name).c_str());
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
  error = "cannot remove the setting " + name + ": " + CORE::corestring::formatError(static_cast<DWORD>(status)).utf8();
  return false;
}

}  // namespace vhost
