// The --help text of varnel-host.
#pragma once

namespace vhost {

extern const char kHelpText[];

}  // namespace vhost
