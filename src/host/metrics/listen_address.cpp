// Parsing ADDR:PORT.
#include "metrics/listen_address.h"

#include <charconv>

namespace vhost {

bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& error) {
  auto bad = [&](const char* why) {
    error = "\"" + std::string(text) + "\" is no ADDR:PORT (" + why + ")";
    return false;
  };
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return bad("no port");
  std::string_view host = text.substr(0, colon);
  std::string_view port = text.substr(colon + 1);
  if (host.starts_with('[')) {
    if (!host.ends_with(']') || host.size() < 3) return bad("unclosed [");
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return bad("an IPv6 address goes in brackets");
  }
  if (host.empty()) return bad("no address");
  unsigned value = 0;
  auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || ptr != port.data() + port.size() || value == 0 || value > 65535)
    return bad("the port is a number from 1 to 65535");
  out.host = std::string(host);
  out.port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace vhost
