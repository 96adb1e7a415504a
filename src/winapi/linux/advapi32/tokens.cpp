// Process and token handles over procfs: OpenProcess, OpenProcessToken, GetTokenInformation
// (TokenUser) and ProcessIdToSessionId.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "advapi32/unix_sid.h"
#include "common/config.h"
#include "kernelbase/handle_table.h"
#include "procfs/pid_parse.h"
#include "procfs/procfs_files.h"

namespace winapi_linux {

namespace {

// A process handle remembers whose process it was when opened: a token opened later reports
// that owner even if the process has exited meanwhile.
struct ProcessObject : KernelObject {
  ProcessObject(DWORD p, uint32_t u) : pid(p), uid(u) {}
  DWORD pid;
  uint32_t uid;
};

struct TokenObject : KernelObject {
  explicit TokenObject(uint32_t u) : uid(u) {}
  uint32_t uid;
};

ScopedFd openProcessDirectory(DWORD pid) {
  char name[16];
  std::snprintf(name, sizeof name, "%u", pid);
  ScopedFd root = openDirectory(procfsRoot().c_str());
  return root.valid() ? openDirectoryAt(root.get(), name) : ScopedFd();
}

// The real uid of a process, or the Win32 error that explains why there is none.
struct OwnerLookup {
  uint32_t uid = 0;
  DWORD error = ERROR_SUCCESS;
};

OwnerLookup readOwner(DWORD pid) {
  ScopedFd dir = openProcessDirectory(pid);
  if (!dir.valid()) return {0, ERROR_INVALID_PARAMETER};
  char text[8192];
  ReadResult r = readFileAt(dir.get(), "status", text);
  if (!r.ok())
    return {0, r.error == ENOENT || r.error == ESRCH ? DWORD{ERROR_INVALID_PARAMETER} : DWORD{ERROR_ACCESS_DENIED}};
  if (r.length == 0) return {0, ERROR_INVALID_PARAMETER};  // exited while being read
  auto status = procfs::parsePidStatus({text, r.length});
  if (!status) return {0, ERROR_INVALID_DATA};
  return {status->realUid, ERROR_SUCCESS};
}

}  // namespace

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER HANDLE OpenProcess(DWORD /*access*/, BOOL /*inherit*/, DWORD pid) {
  if (pid == 0) {  // the idle process cannot be opened, as on Windows
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  OwnerLookup owner = readOwner(pid);
  if (owner.error != ERROR_SUCCESS) {
    SetLastError(owner.error);
    return nullptr;
  }
  return insertHandle(std::make_shared<ProcessObject>(pid, owner.uid));
}

WINAPI_LAYER BOOL OpenProcessToken(HANDLE process, DWORD /*access*/, PHANDLE token) {
  if (!token) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  uint32_t uid;
  if (process == GetCurrentProcess()) {  // the pseudo handle is never in the table
    uid = ::getuid();
  } else if (auto p = lookupHandleAs<ProcessObject>(process)) {
    uid = p->uid;
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *token = insertHandle(std::make_shared<TokenObject>(uid));
  return TRUE;
}

WINAPI_LAYER BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID buffer, DWORD length,
                                      PDWORD returned) {
  auto t = lookupHandleAs<TokenObject>(token);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!returned) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (cls != TokenUser) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // TOKEN_USER, then the SID it points to, both in the caller's buffer.
  constexpr DWORD kNeeded = sizeof(TOKEN_USER) + kUnixUserSidLength;
  *returned = kNeeded;
  if (length < kNeeded) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!buffer) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  TOKEN_USER user{};
  user.User.Sid = out + sizeof(TOKEN_USER);
  user.User.Attributes = 0;
  std::memcpy(out, &user, sizeof user);
  writeUnixUserSid(t->uid, out + sizeof(TOKEN_USER));
  return TRUE;
}

WINAPI_LAYER BOOL ProcessIdToSessionId(DWORD pid, DWORD* sessionId) {
  if (!sessionId) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (pid == 0) {  // the idle process, as the snapshot reports it
    *sessionId = 0;
    return TRUE;
  }
  ScopedFd dir = openProcessDirectory(pid);
  if (!dir.valid()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char text[32];
  ReadResult r = readFileAt(dir.get(), "sessionid", text);
  // No sessionid file (kernel without audit) means no login session: session 0.
  *sessionId = r.ok() ? procfs::reportedSessionId(procfs::parseSessionId({text, r.length})) : 0;
  return TRUE;
}
