// SIGPIPE ignored: a failed send reports EPIPE to the server instead.
#include "metrics/broken_pipe.h"

#include <csignal>

namespace vhost {

void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace vhost
