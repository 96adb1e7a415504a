// The local-machine test of PDH machine names.
#include "pdh/pdh_support.h"

#include <unistd.h>

#include "advapi32/registry_names.h"
#include "common/wide_text.h"

namespace winapi_linux::pdh {

bool isLocalMachine(std::wstring_view m) {
  while (!m.empty() && m.front() == L'\\') m.remove_prefix(1);
  if (m.empty() || m == L"." || registry_names::sameName(m, L"localhost")) return true;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return false;
  return registry_names::sameName(m, wide_text::fromUtf8Lossy(host));
}

}  // namespace winapi_linux::pdh
