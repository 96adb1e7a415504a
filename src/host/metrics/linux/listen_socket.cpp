// SO_REUSEADDR only: rebinding past TIME_WAIT, no SO_REUSEPORT sharing.
#include "metrics/listen_socket.h"

#include <sys/socket.h>

namespace vhost {

void configureListenSocket(std::intptr_t socket) {
  int yes = 1;
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace vhost
