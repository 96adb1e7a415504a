// The file-backed registry through the Reg* calls: round trips, the size protocol, case-insensitive
// names, hand-written and malformed files, enumeration, atomic writes and change notification.
// Value names that are no file names are checked on the name encoding itself.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>
#include <vector>

#include "advapi32/registry_format.h"
#include "winapi/temp_registry.h"

namespace {

using ::testing::ElementsAre;

LONG setSz(HKEY key, const wchar_t* name, std::wstring_view text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG setDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The value's data as characters (a REG_DWORD as its decimal text), or the error code.
struct Queried {
  LONG status;
  DWORD type;
  std::wstring data;
};
Queried query(HKEY key, const wchar_t* name) {
  Queried q{ERROR_SUCCESS, 0, {}};
  DWORD size = 0;
  if ((q.status = RegQueryValueExW(key, name, nullptr, &q.type, nullptr, &size))) return q;
  std::vector<BYTE> data(size);
  if ((q.status = RegQueryValueExW(key, name, nullptr, &q.type, data.data(), &size))) return q;
  if (q.type == REG_DWORD) q.data = std::to_wstring(*reinterpret_cast<DWORD*>(data.data()));
  else q.data.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t) - 1);
  return q;
}

std::vector<std::wstring> enumerate(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  DWORD length = 256;
  for (DWORD i = 0; RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
    names.emplace_back(name, length);
    length = 256;
  }
  return names;
}

using Registry = TempRegistry;

// Round trips of every type are also checked through the framework's registry helpers; here:
// the files they leave, and the size protocol.
TEST_F(Registry, ValuesAreStoredAsTypedTextFilesAndReadWithTheSizeProtocol) {
  HKEY key = createKey(L"Software\\Vantrel\\Orvane\\Performance Stats");
  ASSERT_EQ(setDword(key, L"CpuPercentage", 42), ERROR_SUCCESS);
  ASSERT_EQ(setSz(key, L"Label", L"dword:7"), ERROR_SUCCESS);
  const wchar_t list[] = L"Processor\0% Idle Time\0";
  ASSERT_EQ(RegSetValueExW(key, L"Counters", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list),
            ERROR_SUCCESS);
  const std::string dir = "HKLM/Software/Vantrel/Orvane/Performance Stats/";
  EXPECT_EQ(readFile(dir + "CpuPercentage"), "dword:42\n");
  EXPECT_EQ(readFile(dir + "Label"), "sz:dword:7\n");
  EXPECT_EQ(readFile(dir + "Counters"), "multi_sz:\nProcessor\n% Idle Time\n");

  wchar_t buffer[8];
  DWORD size = 7 * sizeof(wchar_t);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Label", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof buffer);
  EXPECT_EQ(RegQueryValueExW(key, L"Label", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(buffer, L"dword:7");
  EXPECT_EQ(query(key, L"Missing").status, ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, KeysAndValueNamesAreFoundInAnyCaseAndKeepTheirFirstSpelling) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  HKEY child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(key, L"..\\..", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND) << "no way out of a key";
  EXPECT_TRUE(std::filesystem::is_directory(file("HKLM/Software/A/B")));
  EXPECT_FALSE(std::filesystem::exists(file("HKLM/SOFTWARE")));

  ASSERT_EQ(setDword(key, L"OverallCpuPercentage", 80), ERROR_SUCCESS);
  ASSERT_EQ(setDword(key, L"OVERALLCPUPERCENTAGE", 90), ERROR_SUCCESS);
  EXPECT_EQ(query(key, L"overallcpupercentage").data, L"90");
  EXPECT_THAT(enumerate(key), ElementsAre(L"OverallCpuPercentage"));
  RegCloseKey(key);
}

TEST_F(Registry, HandWrittenFilesAreReadAndMalformedOnesAreInvalidData) {
  HKEY key = createKey(L"Software\\Hand");
  const std::string dir = "HKLM/Software/Hand/";
  writeFile(dir + "Threshold", "dword:75\n");
  writeFile(dir + "Binary", "\xFF\xFE\x01garbage");  // the parser's own tests cover every malformed form
  EXPECT_EQ(query(key, L"threshold").data, L"75");
  EXPECT_EQ(query(key, L"Binary").status, ERROR_INVALID_DATA);
  RegCloseKey(key);
}

TEST_F(Registry, ValuesLargerThanReadsAcceptAreRefusedWhenWritten) {
  HKEY key = createKey(L"Software\\Size");
  // The file holds the text and a newline: the largest text that fits, and one character more.
  std::wstring text(winapi_linux::registry_format::kMaxContent - 1, L'x');
  ASSERT_EQ(setSz(key, L"Largest", text), ERROR_SUCCESS);
  EXPECT_EQ(query(key, L"Largest").data.size(), text.size());
  text += L'x';
  EXPECT_EQ(setSz(key, L"TooLarge", text), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(query(key, L"TooLarge").status, ERROR_FILE_NOT_FOUND);
  // An existing value keeps its old content.
  ASSERT_EQ(setSz(key, L"Kept", L"old"), ERROR_SUCCESS);
  EXPECT_EQ(setSz(key, L"Kept", text), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(query(key, L"Kept").data, L"old");
  RegCloseKey(key);
}

TEST_F(Registry, AFailedDeepCreationLeavesNoKeysBehind) {
  HKEY key = createKey(L"Software\\Deep");
  RegCloseKey(key);
  // The last name is too long for a file name: the keys made on the way there go again.
  const std::wstring path = L"Software\\Deep\\A\\B\\C\\" + std::wstring(300, L'n');
  key = nullptr;
  EXPECT_NE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(file("HKLM/Software/Deep")));
  EXPECT_TRUE(std::filesystem::is_empty(file("HKLM/Software/Deep")));
  // Keys that existed before the call stay.
  RegCloseKey(createKey(L"Software\\Deep\\A"));
  EXPECT_NE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(file("HKLM/Software/Deep/A")));
  EXPECT_TRUE(std::filesystem::is_empty(file("HKLM/Software/Deep/A")));
}

TEST_F(Registry, EnumerationIsOrderedAndSkipsHiddenFilesAndSubkeys) {
  HKEY key = createKey(L"Software\\Enum");
  for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"}) ASSERT_EQ(setDword(key, name, 1), ERROR_SUCCESS);
  writeFile("HKLM/Software/Enum/.gamma.swp", "editor swap file");
  std::filesystem::create_directory(file("HKLM/Software/Enum/Subkey"));
  EXPECT_THAT(enumerate(key), ElementsAre(L"Alpha", L"beta", L"gamma"));
  // What the file format cannot hold is refused, not written half.
  const wchar_t withNewline[] = L"one\0two\nlines\0";
  EXPECT_EQ(RegSetValueExW(key, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(withNewline),
                           sizeof withNewline),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(enumerate(key).size(), 3u);
  RegCloseKey(key);
  EXPECT_EQ(setDword(key, L"X", 1), ERROR_INVALID_HANDLE) << "closed key";
}

TEST_F(Registry, ReadersNeverSeeAPartialWrite) {
  HKEY key = createKey(L"Software\\Atomic");
  const std::wstring first(64 * 1024, L'a'), second(64 * 1024, L'b');
  ASSERT_EQ(setSz(key, L"Big", first), ERROR_SUCCESS);
  const std::string firstFile = std::string(first.size(), 'a') + "\n";
  const std::string secondFile = std::string(second.size(), 'b') + "\n";
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      std::string content = readFile("HKLM/Software/Atomic/Big");
      torn += content != firstFile && content != secondFile;
    }
  });
  for (int i = 0; i < 200; ++i) ASSERT_EQ(setSz(key, L"Big", i % 2 ? first : second), ERROR_SUCCESS);
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  auto files = std::distance(std::filesystem::directory_iterator(file("HKLM/Software/Atomic")),
                             std::filesystem::directory_iterator());
  EXPECT_EQ(files, 1) << "no temporary file is left behind";
  RegCloseKey(key);
}

// Change notification: hand edits, renames and deletions are seen once per registration; hidden
// files, closed keys and unrelated keys stay silent.
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

}  // namespace
