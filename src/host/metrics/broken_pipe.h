// Writes to a connection the peer closed fail instead of ending the process.
#pragma once

namespace vhost {

// Where writing to a closed socket raises a signal (SIGPIPE), ignore it for the whole process.
void ignoreBrokenPipe();

}  // namespace vhost
