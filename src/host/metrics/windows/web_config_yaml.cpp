// The Windows build has no YAML, TLS or bcrypt library: --web-config is refused.
#include "metrics/web_config.h"

namespace vhost {

bool webConfigSupported() { return false; }

bool readWebConfigEntries(std::string_view, WebConfigEntries&, std::string& error) {
  error =
      "the Windows build serves plain HTTP only: TLS, client certificates, basic authentication and extra headers "
      "(--web-config) need the Linux build";
  return false;
}

}  // namespace vhost
