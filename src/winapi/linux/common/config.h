// Run-time roots of the Linux layer: where machine data and the registry are read from.
#pragma once
#include <string>

namespace winapi_linux {

// $VARNEL_PROCFS, else "/proc". Read on every call so that tests can switch fixture trees.
std::string procfsRoot();
// $VARNEL_REGISTRY, else $XDG_STATE_HOME/varnel/registry, else ~/.local/state/varnel/registry.
std::string registryRoot();
// $VARNEL_UTMP, else "/var/run/utmp": the login records terminal sessions are read from.
std::string utmpPath();

}  // namespace winapi_linux
