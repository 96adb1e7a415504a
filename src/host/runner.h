// varnel-host from start to end.
//
// Options, environment, framework set-up, loading the plug-in, running it in human or script
// mode, and shutting it down.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace vhost {

// Exit status for a bad command line or a plug-in that cannot be loaded.
inline constexpr int kExitUsage = 2;

// `args` without the program name; events and the help text go to `out`, one-line reasons
// for failing to `err`, and a script given as "-" is read from `in`.
int runHost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace vhost
