// WTSEnumerateSessionsW and WTSFreeMemory over the utmp login records ($VARNEL_UTMP).
//
// Session 0 is the services' session, as on Windows: always listed, never active. Each login
// of utmp is a session named by its terminal; it is WTSActive while its login process is alive
// (its directory exists under the procfs root), else WTSDisconnected (a record a crashed login
// left behind). Its id is the audit session id of the login process (`<pid>/sessionid`, the
// figure process snapshots report as SessionId); where that is unset or unreadable, the login
// pid, which is stable while the login lasts and distinct among logins. Logins that share one
// id are one session, active when any of them is.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/wide_text.h"
#include "procfs/bounded_read.h"
#include "procfs/procfs_text.h"
#include "procfs/utmp_parse.h"
#include "winapi.h"

namespace winapi_linux {

namespace {

// A utmp file holds one record per terminal line: a few MB would be tens of thousands.
constexpr size_t kMaxUtmp = 16u << 20;
constexpr uint32_t kUnsetSession = 4294967295u;

struct Session {
  DWORD id;
  std::wstring name;
  bool active;
};

bool processAlive(const std::string& root, int32_t pid) {
  struct stat st {};
  return ::stat((root + "/" + std::to_string(pid)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD sessionIdOf(const std::string& root, int32_t pid) {
  std::string text;
  if (readRegularFile(root + "/" + std::to_string(pid) + "/sessionid", 64, text) == 0) {
    while (!text.empty() && procfs::isFieldSeparator(text.back())) text.pop_back();
    auto id = procfs::parseNumber<uint32_t>(text);
    if (id && *id != kUnsetSession && *id != 0) return *id;
  }
  return static_cast<DWORD>(pid);
}

DWORD errorOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_DATA;  // not a regular file, too large, unreadable
  }
}

// The sessions, or an error code.
DWORD listSessions(std::vector<Session>& sessions) {
  sessions.push_back({0, L"Services", false});
  std::string data;
  int error = readRegularFile(utmpPath(), kMaxUtmp, data);
  if (error == ENOENT) return ERROR_SUCCESS;  // no login records: nobody is logged in
  if (error) return errorOf(error);
  const std::string root = procfsRoot();
  for (const UtmpLogin& login : parseUtmp(data)) {
    const bool alive = processAlive(root, login.pid);
    const DWORD id = alive ? sessionIdOf(root, login.pid) : static_cast<DWORD>(login.pid);
    bool merged = false;
    for (Session& s : sessions) {
      if (s.id != id) continue;
      s.active = s.active || alive;
      merged = true;
    }
    if (!merged) sessions.push_back({id, wide_text::fromUtf8Lossy(login.line), alive});
  }
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER BOOL WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessionInfo,
                                        DWORD* count) {
  if (!sessionInfo || !count || reserved != 0 || version != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (server != WTS_CURRENT_SERVER_HANDLE) {
    SetLastError(ERROR_INVALID_HANDLE);  // only the local server is known
    return FALSE;
  }
  try {
    std::vector<Session> sessions;
    if (DWORD error = listSessions(sessions)) {
      SetLastError(error);
      return FALSE;
    }
    // One block for WTSFreeMemory: the entries, then their names.
    size_t bytes = sessions.size() * sizeof(WTS_SESSION_INFOW);
    for (const Session& s : sessions) bytes += (s.name.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<unsigned char*>(std::malloc(bytes));
    if (!block) throw std::bad_alloc();
    auto* entries = reinterpret_cast<WTS_SESSION_INFOW*>(block);
    auto* names = reinterpret_cast<wchar_t*>(block + sessions.size() * sizeof(WTS_SESSION_INFOW));
    for (size_t i = 0; i < sessions.size(); ++i) {
      const Session& s = sessions[i];
      std::wmemcpy(names, s.name.c_str(), s.name.size() + 1);
      new (&entries[i]) WTS_SESSION_INFOW{s.id, names, s.active ? WTSActive : WTSDisconnected};
      names += s.name.size() + 1;
    }
    *sessionInfo = entries;
    *count = static_cast<DWORD>(sessions.size());
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  } catch (...) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
}

WINAPI_LAYER void WTSFreeMemory(PVOID memory) { std::free(memory); }
