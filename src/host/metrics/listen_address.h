// The ADDR:PORT of --metrics-listen.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vhost {

struct ListenAddress {
  std::string host;  // as given; an IPv6 address without its brackets
  uint16_t port = 0;
};

// "127.0.0.1:9464", "localhost:9464", "[::1]:9464". The host is required, the port a decimal
// number from 1 to 65535. On failure returns false with a one-line reason.
bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& error);

}  // namespace vhost
