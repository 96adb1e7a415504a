// Change notification of registry keys: hand edits, renames and deletions are seen once per
// registration; hidden files, closed keys and unrelated keys stay silent.
#include <unistd.h>

#include "temp_registry.h"

namespace {

constexpr DWORD kSeen = 5000;   // generous: inotify delivery on a loaded machine
constexpr DWORD kQuiet = 300;   // how long "no notification" is watched for

class RegistryNotify : public TempRegistry {
 protected:
  void SetUp() override {
    key_ = createKey(L"Software\\Vantrel\\Orvane\\Performance Alarms");
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    if (key_) RegCloseKey(key_);
    CloseHandle(event_);
  }
  LONG arm(HKEY key, DWORD filter = REG_NOTIFY_CHANGE_LAST_SET, BOOL subtree = FALSE) {
    return RegNotifyChangeKeyValue(key, subtree, filter, event_, TRUE);
  }
  std::string value(const std::string& name) const { return "HKLM/Software/Vantrel/Orvane/Performance Alarms/" + name; }

  HKEY key_ = nullptr;
  HANDLE event_ = nullptr;
};

TEST_F(RegistryNotify, HandEditIsSeenOncePerRegistration) {
  writeFile(value("OverallCpuPercentage"), "dword:80\n");
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(event_, kQuiet), WAIT_TIMEOUT);
  writeFile(value("OverallCpuPercentage"), "dword:90\n");
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);

  ResetEvent(event_);
  writeFile(value("OverallCpuPercentage"), "dword:95\n");
  EXPECT_EQ(WaitForSingleObject(event_, kQuiet), WAIT_TIMEOUT) << "the caller must re-arm";
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  writeFile(value("OverallCpuPercentage"), "dword:70\n");
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);
}

TEST_F(RegistryNotify, RenameIntoPlaceDeletionAndApiWritesAreSeen) {
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  writeFile(value(".edit.tmp"), "dword:60\n");  // an editor's temporary file: hidden, silent
  EXPECT_EQ(WaitForSingleObject(event_, kQuiet), WAIT_TIMEOUT);
  std::filesystem::rename(file(value(".edit.tmp")), file(value("MemoryPercentage")));
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);

  ResetEvent(event_);
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  std::filesystem::remove(file(value("MemoryPercentage")));
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);

  ResetEvent(event_);
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  DWORD minutes = 15;
  ASSERT_EQ(RegSetValueExW(key_, L"AlarmMinutes", 0, REG_DWORD, reinterpret_cast<BYTE*>(&minutes), 4), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);
}

// Closing a key ends its registration and leaves the others on the same directory.
TEST_F(RegistryNotify, RegistrationsOnOneKeyAreIndependent) {
  HKEY second = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\vantrel\\orvane\\performance alarms", 0, KEY_NOTIFY, &second),
            ERROR_SUCCESS);
  HANDLE secondEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(arm(key_), ERROR_SUCCESS);
  ASSERT_EQ(RegNotifyChangeKeyValue(second, FALSE, REG_NOTIFY_CHANGE_LAST_SET, secondEvent, TRUE), ERROR_SUCCESS);
  RegCloseKey(second);  // drops its share of the directory's watch, not the other registration
  EXPECT_EQ(WaitForSingleObject(event_, kQuiet), WAIT_TIMEOUT);
  writeFile(value("ProcessCpuPercentage"), "dword:50\n");
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(secondEvent, 0), WAIT_TIMEOUT);
  CloseHandle(secondEvent);
}

TEST_F(RegistryNotify, SubtreeRegistrationsSeeChangesBelowTheKey) {
  HKEY parent = createKey(L"Software\\Vantrel\\Orvane");
  ASSERT_EQ(arm(parent), ERROR_SUCCESS);
  writeFile(value("OverallCpuPercentage"), "dword:1\n");
  EXPECT_EQ(WaitForSingleObject(event_, kQuiet), WAIT_TIMEOUT) << "not without watchSubtree";
  RegCloseKey(parent);

  parent = createKey(L"Software\\Vantrel\\Orvane");
  ASSERT_EQ(arm(parent, REG_NOTIFY_CHANGE_LAST_SET, TRUE), ERROR_SUCCESS);
  writeFile(value("OverallCpuPercentage"), "dword:2\n");
  EXPECT_EQ(WaitForSingleObject(event_, kSeen), WAIT_OBJECT_0);
  RegCloseKey(parent);
}

TEST_F(RegistryNotify, UnsupportedCallsFail) {
  EXPECT_EQ(RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_, FALSE), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(key_, FALSE, 0, event_, TRUE), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, TRUE), ERROR_INVALID_HANDLE);
}

}  // namespace
