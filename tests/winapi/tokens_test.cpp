// Tests of process and token handles, the S-1-22-1-<uid> user SID, account lookup and session ids.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

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

TEST(Tokens, ATokenCarriesTheRealUidOfItsProcess) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, getpid());
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(userSid(process), unixUserSid(getuid()));
  EXPECT_EQ(userSid(GetCurrentProcess()), unixUserSid(getuid()));

  unsigned char small[8];
  DWORD returned = 0;
  EXPECT_FALSE(GetTokenInformation(process, TokenUser, small, sizeof small, &returned));  // not a token
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(process, TOKEN_QUERY, &token));
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, small, sizeof small, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, sizeof(TOKEN_USER) + 16);
  CloseHandle(token);
  CloseHandle(process);
  EXPECT_FALSE(OpenProcessToken(process, TOKEN_QUERY, &token));  // closed
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Tokens, FixtureOwnersOutliveTheirProcessAndMissingPidsFail) {
  FixtureTree tree;
  tree.addProcess({321, "svc", 0, 0, 0, 0, 0, 4294967295u, 4321});
  tree.activate();
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 321);
  ASSERT_NE(process, nullptr);
  tree.removeProcess(321);  // the handle keeps the owner it was opened with
  EXPECT_EQ(userSid(process), unixUserSid(4321));
  CloseHandle(process);
  for (DWORD pid : {DWORD{321}, DWORD{0}, DWORD{99999}}) {
    EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid), nullptr) << pid;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << pid;
  }
}

TEST(Accounts, LookupGivesTheUserNameAndTheHostAsDomainWithTheSizeProtocol) {
  auto sid = unixUserSid(getuid());
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::wstring expectedName(pw->pw_name, pw->pw_name + strlen(pw->pw_name));
  const std::wstring expectedDomain(host, host + strlen(host));
  const DWORD nameSize = static_cast<DWORD>(expectedName.size()), domainSize = static_cast<DWORD>(expectedDomain.size());

  // No room, or room for the name only: both sizes come back, in characters with the NUL.
  wchar_t name[512] = {}, domain[512] = {};
  SID_NAME_USE use{};
  for (DWORD nameRoom : {DWORD{0}, DWORD{512}}) {
    DWORD nameLength = nameRoom, domainLength = nameRoom ? domainSize : 0;
    EXPECT_FALSE(LookupAccountSidW(nullptr, sid.data(), nameRoom ? name : nullptr, &nameLength,
                                   nameRoom ? domain : nullptr, &domainLength, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(nameLength, nameSize + 1);
    EXPECT_EQ(domainLength, domainSize + 1);
  }
  // The module's 512-character buffers; on success the sizes exclude the NUL.
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

TEST(Sessions, SessionIdsComeFromTheAuditSession) {
  FixtureTree tree;
  tree.addProcess({10, "login", 0, 0, 0, 0, 0, 5});
  tree.addProcess({11, "daemon", 0, 0, 0, 0, 0, 4294967295u});
  tree.addProcess({12, "noaudit"});
  tree.removeFile("12/sessionid");
  tree.activate();
  const std::pair<DWORD, DWORD> expected[] = {{10, 5}, {11, 0}, {12, 0}};
  for (auto [pid, want] : expected) {
    DWORD session = 99;
    EXPECT_TRUE(ProcessIdToSessionId(pid, &session)) << pid;
    EXPECT_EQ(session, want) << pid;
  }
  DWORD session = 99;
  EXPECT_FALSE(ProcessIdToSessionId(13, &session));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
