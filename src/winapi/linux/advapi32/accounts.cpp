// LookupAccountSidW: the user name of a S-1-22-1-<uid> SID through NSS, the host name as domain.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "advapi32/unix_sid.h"
#include "common/wide_text.h"

namespace winapi_linux {

namespace {

// The account name of a uid (files, LDAP, ... whatever NSS is configured with); nullopt when
// no account has that uid.
std::optional<std::string> userName(uid_t uid) {
  std::vector<char> scratch(1024);
  for (;;) {
    passwd entry;
    passwd* found = nullptr;
    int rc = ::getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found);
    if (rc == ERANGE && scratch.size() < (1u << 20)) {
      scratch.resize(scratch.size() * 4);
      continue;
    }
    if (rc != 0 || !found) return std::nullopt;
    return std::string(found->pw_name);
  }
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

}  // namespace winapi_linux

// The system name is not consulted: every lookup is local.
WINAPI_LAYER BOOL LookupAccountSidW(LPCWSTR /*system*/, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                                    LPDWORD domainLength, PSID_NAME_USE use) {
  using namespace winapi_linux;
  if (!sid || !nameLength || !domainLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto uid = unixUserOfSid(sid);
  auto account = uid ? userName(*uid) : std::nullopt;
  if (!account) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  std::wstring wideName = wide_text::fromUtf8Lossy(*account);
  std::wstring wideDomain = wide_text::fromUtf8Lossy(hostName());

  // Sizes in characters; a short buffer learns the sizes it needs, NUL included.
  auto nameNeeded = static_cast<DWORD>(wideName.size() + 1);
  auto domainNeeded = static_cast<DWORD>(wideDomain.size() + 1);
  if (*nameLength < nameNeeded || *domainLength < domainNeeded) {
    *nameLength = nameNeeded;
    *domainLength = domainNeeded;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!name || !domain) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  wideName.copy(name, wideName.size());
  name[wideName.size()] = L'\0';
  wideDomain.copy(domain, wideDomain.size());
  domain[wideDomain.size()] = L'\0';
  // On success the sizes exclude the NUL.
  *nameLength = nameNeeded - 1;
  *domainLength = domainNeeded - 1;
  if (use) *use = SidTypeUser;
  return TRUE;
}
