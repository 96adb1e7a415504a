// Run-time roots of the Linux layer, from the environment.
#include "common/config.h"

#include <cstdlib>

namespace winapi_linux {

namespace {
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}
}  // namespace

std::string procfsRoot() {
  std::string root = env("VARNEL_PROCFS");
  return root.empty() ? std::string("/proc") : root;
}

std::string utmpPath() {
  std::string path = env("VARNEL_UTMP");
  return path.empty() ? std::string("/var/run/utmp") : path;
}

std::string registryRoot() {
  std::string root = env("VARNEL_REGISTRY");
  if (!root.empty()) return root;
  std::string state = env("XDG_STATE_HOME");
  if (state.empty()) {
    std::string home = env("HOME");
    state = (home.empty() ? std::string("/tmp") : home) + "/.local/state";
  }
  return state + "/varnel/registry";
}

}  // namespace winapi_linux
