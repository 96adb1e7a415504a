// Modules over the dynamic loader: LoadLibraryW and FreeLibrary with the library's DllMain
// attach/detach notifications, module handles for the system library names, GetProcAddress and
// GetModuleFileNameW. An HMODULE is the loader's dlopen handle.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "common/no_destructor.h"
#include "common/wide_text.h"
#include "winapi.h"

using namespace winapi_linux;

namespace {

using DllEntry = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// Windows names of the system libraries whose functions this layer provides.
constexpr std::string_view kSystemLibraries[] = {"ntdll.dll", "kernel32.dll", "advapi32.dll", "pdh.dll",
                                                 "wtsapi32.dll"};

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The Windows loader appends ".dll" to a name without an extension.
std::string normalisedName(std::string_view name) {
  std::string out = lowerAscii(name);
  if (out.find('.') == std::string::npos) out += ".dll";
  return out;
}

bool isSystemLibrary(std::string_view name) {
  std::string normalised = normalisedName(name);
  for (std::string_view system : kSystemLibraries)
    if (normalised == system) return true;
  return false;
}

// "statrix.so", "libvarnel.so.1" -> "statrix", "libvarnel".
std::string_view stem(std::string_view fileName) {
  size_t so = fileName.find(".so");
  if (so != std::string_view::npos) return fileName.substr(0, so);
  return fileName.substr(0, fileName.rfind('.'));
}

// Whether a GetModuleHandle name names the library at `path`: the whole path (when the name has a
// directory), else its file name, case-insensitively; a Windows name "x.dll" also finds "x.so"
// and "libx.so".
bool nameMatches(std::string_view name, const std::string& path) {
  std::string query = lowerAscii(name);
  std::string full = lowerAscii(path);
  if (query.find('/') != std::string::npos) return query == full;
  std::string fileName = full.substr(full.rfind('/') + 1);
  if (query == fileName) return true;
  query = normalisedName(query);
  if (!query.ends_with(".dll")) return false;
  std::string_view wanted = std::string_view(query).substr(0, query.size() - 4);
  std::string_view have = stem(fileName);
  return have == wanted || (have.starts_with("lib") && have.substr(3) == wanted);
}

std::string executablePath() {
  // The real /proc: this is about this process, not the machine data under VARNEL_PROCFS.
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void* mainProgram() {
  static void* handle = dlopen(nullptr, RTLD_NOW);
  return handle;
}

// The shared library this layer lives in; the handle for the system library names.
const char kLayerAnchor = 0;
void* layerLibrary() {
  static void* handle = [] {
    Dl_info info{};
    if (dladdr(&kLayerAnchor, &info) && info.dli_fname) {
      // Kept open for good: the layer is never unloaded while its code runs.
      if (void* h = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)) return h;
    }
    return mainProgram();  // the layer is part of the executable
  }();
  return handle;
}

link_map* linkMap(void* handle) {
  link_map* map = nullptr;
  return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

std::string modulePath(void* handle) {
  link_map* map = handle == mainProgram() ? nullptr : linkMap(handle);
  if (!map || !map->l_name || !*map->l_name) return executablePath();
  std::string path = map->l_name;
  if (path[0] != '/') {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) path = resolved;
  }
  return path;
}

// The library's own DllMain, not one it happens to see among its dependencies.
DllEntry entryPoint(void* handle) {
  void* symbol = dlsym(handle, "DllMain");
  if (!symbol) return nullptr;
  Dl_info info{};
  link_map* owner = nullptr;
  if (!dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || owner != linkMap(handle))
    return nullptr;
  return reinterpret_cast<DllEntry>(symbol);
}

// The Windows error for a dlopen failure, from the loader's message.
DWORD loadError(const char* message) {
  std::string_view text = message ? message : "";
  auto says = [&](std::string_view what) { return text.find(what) != std::string_view::npos; };
  if (says("invalid ELF header") || says("file too short") || says("wrong ELF class")) return ERROR_BAD_EXE_FORMAT;
  if (says("undefined symbol")) return ERROR_PROC_NOT_FOUND;
  return ERROR_MOD_NOT_FOUND;  // the library or one it needs is missing
}

struct LoadedModule {
  int references;
  std::string path;
};

// Libraries loaded through LoadLibraryW. The lock is held across DllMain calls, like the Windows
// loader lock, so attach and detach never overlap; it is recursive because DllMain may ask for
// module handles or file names.
struct Loader {
  std::recursive_mutex lock;
  std::map<void*, LoadedModule> loaded;

  bool known(void* handle) { return handle == mainProgram() || handle == layerLibrary() || loaded.count(handle); }
};

Loader& loader() {
  static NoDestructor<Loader> instance;
  return instance.get();
}

HMODULE moduleHandle(const std::string* name) {
  if (!name) return static_cast<HMODULE>(mainProgram());
  if (isSystemLibrary(*name)) return static_cast<HMODULE>(layerLibrary());
  Loader& l = loader();
  std::lock_guard lock(l.lock);
  for (const auto& [handle, module] : l.loaded)
    if (nameMatches(*name, module.path)) return static_cast<HMODULE>(handle);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace

WINAPI_LAYER HMODULE LoadLibraryW(LPCWSTR path) {
  auto file = wide_text::toUtf8(wide_text::view(path));
  if (!file || file->empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Loader& l = loader();
  std::lock_guard lock(l.lock);
  dlerror();
  void* handle = dlopen(file->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(loadError(dlerror()));
    return nullptr;
  }
  // Every LoadLibraryW holds one loader reference; DllMain runs on the first only.
  auto [it, first] = l.loaded.try_emplace(handle, LoadedModule{0, modulePath(handle)});
  ++it->second.references;
  if (!first) return static_cast<HMODULE>(handle);
  if (DllEntry entry = entryPoint(handle);
      entry && !entry(static_cast<HINSTANCE>(handle), DLL_PROCESS_ATTACH, nullptr)) {
    l.loaded.erase(it);
    dlclose(handle);
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

WINAPI_LAYER BOOL FreeLibrary(HMODULE module) {
  Loader& l = loader();
  std::lock_guard lock(l.lock);
  auto it = l.loaded.find(module);
  if (it == l.loaded.end()) {
    // The program and the system libraries stay loaded; anything else is no module.
    if (module == mainProgram() || module == layerLibrary()) return TRUE;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (--it->second.references == 0) {
    if (DllEntry entry = entryPoint(module)) entry(module, DLL_PROCESS_DETACH, nullptr);
    l.loaded.erase(it);
  }
  dlclose(module);
  return TRUE;
}

WINAPI_LAYER HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) return moduleHandle(nullptr);
  std::string text(name);
  return moduleHandle(&text);
}

WINAPI_LAYER HMODULE GetModuleHandleW(LPCWSTR name) {
  if (!name) return moduleHandle(nullptr);
  auto text = wide_text::toUtf8(name);
  if (!text) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return moduleHandle(&*text);
}

WINAPI_LAYER FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* handle = module ? static_cast<void*>(module) : mainProgram();
  // Small values are export ordinals, which shared objects do not have.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  Loader& l = loader();
  std::lock_guard lock(l.lock);
  if (!l.known(handle)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(handle, name);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

WINAPI_LAYER DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  void* handle = module ? static_cast<void*>(module) : mainProgram();
  std::string path;
  {
    Loader& l = loader();
    std::lock_guard lock(l.lock);
    if (!l.known(handle)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = modulePath(handle);
  }
  if (!buffer && size > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring wide = wide_text::fromUtf8Lossy(path);
  if (wide.size() < size) {
    std::wmemcpy(buffer, wide.data(), wide.size() + 1);
    return static_cast<DWORD>(wide.size());
  }
  // Too small: the truncated, terminated path, the buffer's size and ERROR_INSUFFICIENT_BUFFER.
  if (size > 0) {
    std::wmemcpy(buffer, wide.data(), size - 1);
    buffer[size - 1] = L'\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

WINAPI_LAYER BOOL DisableThreadLibraryCalls(HMODULE module) {
  (void)module;  // threads never notify libraries here
  return TRUE;
}
