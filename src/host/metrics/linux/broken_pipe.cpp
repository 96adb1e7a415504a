// SIGPIPE ignored: a failed send reports EPIPE to the server instead.
#include "broken_pipe.h"

#include <csignal>

namespace vhost {

void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace vhost
