// Owners and sessions of processes: process and token handles, the S-1-22-1-<uid> user SID,
// account lookup, session ids, and WTSEnumerateSessionsW over utmp fixtures (live and dead logins).
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

using statrix_test::FakeProcess;
using statrix_test::FixtureTree;

// TokenUser of a process through the module's calls; the SID bytes, or empty on failure.
std::vector<unsigned char> userSid(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  unsigned char buffer[2048];
  DWORD returned = 0;
  bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &returned);
  CloseHandle(token);
  if (!ok) return {};
  auto* sid = static_cast<unsigned char*>(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  EXPECT_EQ(sid, buffer + sizeof(TOKEN_USER));  // in the caller's buffer, behind TOKEN_USER
  return std::vector<unsigned char>(sid, sid + 16);
}

std::vector<unsigned char> unixUserSid(uint32_t uid) {
  std::vector<unsigned char> sid = {1, 2, 0, 0, 0, 0, 0, 22, 1, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(sid.data() + 12, &uid, 4);
  return sid;
}

TEST(Tokens, ATokenCarriesTheRealUidItsProcessWasOpenedWith) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, getpid());
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(userSid(process), unixUserSid(getuid()));
  EXPECT_EQ(userSid(GetCurrentProcess()), unixUserSid(getuid()));

  unsigned char small[8];
  DWORD returned = 0;
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(process, TOKEN_QUERY, &token));
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, small, sizeof small, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, sizeof(TOKEN_USER) + 16);
  CloseHandle(token);
  CloseHandle(process);
  EXPECT_FALSE(OpenProcessToken(process, TOKEN_QUERY, &token));  // closed
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A fixture process's owner outlives the process; missing pids fail.
  FixtureTree tree;
  tree.addProcess({321, "svc", 0, 0, 0, 0, 0, 4294967295u, 4321});
  tree.activate();
  HANDLE svc = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 321);
  ASSERT_NE(svc, nullptr);
  tree.removeProcess(321);  // the handle keeps the owner it was opened with
  EXPECT_EQ(userSid(svc), unixUserSid(4321));
  CloseHandle(svc);
  for (DWORD pid : {DWORD{321}, DWORD{0}, DWORD{99999}}) {
    EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid), nullptr) << pid;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << pid;
  }
}

TEST(Accounts, LookupGivesTheUserNameAndTheHostAsDomain) {
  auto sid = unixUserSid(getuid());
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::wstring expectedName(pw->pw_name, pw->pw_name + strlen(pw->pw_name));
  const std::wstring expectedDomain(host, host + strlen(host));
  const DWORD nameSize = static_cast<DWORD>(expectedName.size()), domainSize = static_cast<DWORD>(expectedDomain.size());

  // The module's 512-character buffers; on success the sizes exclude the NUL.
  wchar_t name[512] = {}, domain[512] = {};
  SID_NAME_USE use{};
  DWORD nameLength = 512, domainLength = 512;
  ASSERT_TRUE(LookupAccountSidW(nullptr, sid.data(), name, &nameLength, domain, &domainLength, &use));
  EXPECT_EQ(std::wstring(name), expectedName);
  EXPECT_EQ(std::wstring(domain), expectedDomain);
  EXPECT_EQ(std::pair(nameLength, domainLength), std::pair(nameSize, domainSize));
  EXPECT_EQ(use, SidTypeUser);

  // Unknown uids and SIDs of other authorities are not mapped.
  ASSERT_EQ(getpwuid(3999999999u), nullptr);
  std::vector<unsigned char> sids[] = {unixUserSid(3999999999u),
                                       {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},               // S-1-5-18
                                       {1, 2, 0, 0, 0, 0, 0, 22, 2, 0, 0, 0, 0, 0, 0, 0}};  // S-1-22-2-0
  for (auto& other : sids) {
    nameLength = domainLength = 512;
    EXPECT_FALSE(LookupAccountSidW(nullptr, other.data(), name, &nameLength, domain, &domainLength, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
  }
}

struct Seen {
  std::wstring name;
  WTS_CONNECTSTATE_CLASS state;
};

std::map<DWORD, Seen> enumerate() {
  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  EXPECT_TRUE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count));
  std::map<DWORD, Seen> sessions;
  for (DWORD i = 0; i < count; ++i) sessions[info[i].SessionId] = {info[i].pWinStationName, info[i].State};
  WTSFreeMemory(info);
  return sessions;
}

class WtsSessions : public ::testing::Test {
 protected:
  void SetUp() override { tree.activate(); }
  FixtureTree tree;
};

TEST_F(WtsSessions, ALoginIsActiveWhileItsProcessLivesAndProcessesKeepTheirAuditSession) {
  FakeProcess alive{4100, "bash"};
  alive.sessionId = 7;
  tree.addProcess(alive);
  FakeProcess unaudited{4200, "sshd"};  // no audit session id: the login pid stands in
  tree.addProcess(unaudited);
  tree.setLogins({{4100, "tty1", "ann"}, {4200, "pts/0", "bob"}, {4300, "pts/1", "cy"}, {4400, "tty2", "", 8}});
  auto sessions = enumerate();
  ASSERT_EQ(sessions.size(), 4u);
  EXPECT_EQ(sessions[0].name, L"Services");
  EXPECT_EQ(sessions[0].state, WTSDisconnected);
  EXPECT_EQ(sessions[7].name, L"tty1");
  EXPECT_EQ(sessions[7].state, WTSActive);
  EXPECT_EQ(sessions[4200].name, L"pts/0");
  EXPECT_EQ(sessions[4200].state, WTSActive);
  EXPECT_EQ(sessions[4300].state, WTSDisconnected);  // a record its dead login left behind

  // A process's own session is its audit session; unset or unreadable is session 0.
  tree.addProcess({12, "noaudit"});
  tree.removeFile("12/sessionid");
  for (auto [pid, want] : {std::pair{4100u, 7u}, {4200u, 0u}, {12u, 0u}}) {
    DWORD session = 99;
    EXPECT_TRUE(ProcessIdToSessionId(pid, &session)) << pid;
    EXPECT_EQ(session, want) << pid;
  }
  DWORD session = 99;
  EXPECT_FALSE(ProcessIdToSessionId(13, &session));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  tree.removeProcess(4100);
  EXPECT_EQ(enumerate()[4100].state, WTSDisconnected);
}

TEST_F(WtsSessions, NoRecordsMeanOnlyTheServicesSessionAndNoUtmpFileFails) {
  tree.setLogins({});  // from here on the tree restores VARNEL_UTMP when it goes
  EXPECT_EQ(enumerate().size(), 1u);
  setenv("VARNEL_UTMP", (tree.root() + "/absent").c_str(), 1);
  EXPECT_EQ(enumerate().size(), 1u);

  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  // A directory (or a FIFO) is no utmp file; it is refused without blocking. (The bounded reader
  // is the one the PDH sources use.)
  setenv("VARNEL_UTMP", tree.root().c_str(), 1);
  EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  std::string fifo = tree.root() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("VARNEL_UTMP", fifo.c_str(), 1);
  EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count));
  WTSFreeMemory(nullptr);
}

}  // namespace
