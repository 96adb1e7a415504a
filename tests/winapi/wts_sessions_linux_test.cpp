// Tests of WTSEnumerateSessionsW over utmp fixtures: live and dead logins, session ids.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

using statrix_test::FakeLogin;
using statrix_test::FakeProcess;
using statrix_test::FixtureTree;

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

TEST_F(WtsSessions, ALoginIsActiveWhileItsProcessLives) {
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

  tree.removeProcess(4100);
  EXPECT_EQ(enumerate()[4100].state, WTSDisconnected);
}

TEST_F(WtsSessions, NoRecordsMeanOnlyTheServicesSessionAndBadInputFails) {
  tree.setLogins({});  // from here on the tree restores VARNEL_UTMP when it goes
  EXPECT_EQ(enumerate().size(), 1u);
  setenv("VARNEL_UTMP", (tree.root() + "/absent").c_str(), 1);
  EXPECT_EQ(enumerate().size(), 1u);

  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 2, &info, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, nullptr, &count));
  // A directory (or a FIFO) is no utmp file; it is refused without blocking.
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
