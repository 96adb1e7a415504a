// SO_EXCLUSIVEADDRUSE: on Windows SO_REUSEADDR would let another socket take the port over.
#include <winsock2.h>

#include "metrics/listen_socket.h"

namespace vhost {

void configureListenSocket(std::intptr_t socket) {
  BOOL yes = TRUE;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
             sizeof yes);
}

}  // namespace vhost
