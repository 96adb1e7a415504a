// Loading the plug-in library and finding its exports, as the host does.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "plugin_api.h"
#include "winapi.h"

namespace vhost {

// Owns one loaded library; unloads it when destroyed.
class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // LoadLibraryW (which runs the library's attach code). On failure returns false with a
  // one-line reason naming the path and the system's text for the error.
  bool load(const std::wstring& path, std::string& error);
  // Finds PluginInit, PluginExit and PluginParams; false naming the first one missing.
  bool resolve(PluginApi& api, std::string& error) const;
  // FreeLibrary now (also done by the destructor).
  void unload();

 private:
  HMODULE module_ = nullptr;
  std::wstring path_;
};

// `fileName` in the directory of `programPath` (either separator).
std::wstring besideProgram(std::wstring_view programPath, std::wstring_view fileName);
// The plug-in's default locations, in the order they are tried: the platform's plug-in file
// beside the running program, then in ../lib/statrix/ from there (an installed tree).
std::vector<std::wstring> defaultPluginPaths();

}  // namespace vhost
