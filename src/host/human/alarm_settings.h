// The alarm settings as the plug-in will find them at start, and removing one before start.
#pragma once
#include <string>
#include <vector>

#include "human/summary_lines.h"

namespace vhost {

// The eight settings in their usual order, each with the value the registry holds (or its
// default) and where it comes from; `setNow` are the names --set wrote in this run.
std::vector<SettingSource> readAlarmSettings(const std::vector<std::string>& setNow);

// Deletes one setting from the registry; a setting that is not there is no error.
bool unsetAlarmSetting(const std::string& name, std::string& error);

}  // namespace vhost
