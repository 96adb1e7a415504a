// Loading the plug-in library and finding its exports.
#include "plugin_loader.h"

#include <vector>

#include "json.h"
#include "varnel/corestring.h"

namespace vhost {

namespace {

std::string systemError(DWORD code) {
  return CORE::corestring::formatError(code).utf8() + " (error " + std::to_string(code) + ")";
}

// GetProcAddress gives a generic function pointer; going through void(*)() keeps the cast to
// the real signature free of function-type-cast warnings.
template <class Fn>
bool findExport(HMODULE module, const char* name, Fn& out) {
  FARPROC proc = GetProcAddress(module, name);
  if (proc == nullptr) return false;
  out = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
  return true;
}

}  // namespace

PluginModule::~PluginModule() { unload(); }

bool PluginModule::load(const std::wstring& path, std::string& error) {
  unload();
  path_ = path;
  module_ = LoadLibraryW(path.c_str());
  if (module_ == nullptr) {
    DWORD code = GetLastError();
    error = "cannot load plug-in " + utf8(path) + ": " + systemError(code);
    return false;
  }
  return true;
}

bool PluginModule::resolve(PluginApi& api, std::string& error) const {
  PluginApi found;
  const char* missing = nullptr;
  if (!findExport(module_, "PluginInit", found.init)) missing = "PluginInit";
  else if (!findExport(module_, "PluginExit", found.exit)) missing = "PluginExit";
  else if (!findExport(module_, "PluginParams", found.params)) missing = "PluginParams";
  if (missing != nullptr) {
    error = "plug-in " + utf8(path_) + " does not export " + missing + ": " + systemError(GetLastError());
    return false;
  }
  api = found;
  return true;
}

void PluginModule::unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
}

std::wstring besideProgram(std::wstring_view programPath, std::wstring_view fileName) {
  size_t slash = programPath.find_last_of(L"\\/");
  std::wstring dir = slash == std::wstring_view::npos ? std::wstring() : std::wstring(programPath.substr(0, slash + 1));
  return dir + std::wstring(fileName);
}

std::vector<std::wstring> defaultPluginPaths() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) {
      std::wstring_view program(buffer.data(), n);
      return {besideProgram(program, STATRIX_PLUGIN_FILE),
              besideProgram(program, std::wstring(L"../lib/statrix/") + STATRIX_PLUGIN_FILE)};
    }
    buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
  }
  return {STATRIX_PLUGIN_FILE};  // no program path: let the loader search for it
}

}  // namespace vhost
