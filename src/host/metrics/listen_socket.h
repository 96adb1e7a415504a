// Options of the endpoint's listening socket.
#pragma once
#include <cstdint>

namespace vhost {

// Lets the endpoint rebind at once after a restart, but never share its port with another
// listener: a second runner on the same address must fail to start, not split the scrapes.
void configureListenSocket(std::intptr_t socket);

}  // namespace vhost
