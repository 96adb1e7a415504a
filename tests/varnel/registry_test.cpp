// Registry round trips through corestring's helpers and the host's typed access, with the
// write events the observer sees. Linux: a fresh file-backed root; Windows: the real registry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "varnel/corestring.h"
#include "varnel/host_control.h"
#include "winapi.h"

namespace {

using CORE::corestring;
namespace fs = std::filesystem;

// Unique per run, so a key that a test expects to be missing really is.
const corestring& runKey() {
  static const corestring key =
      corestring(L"HKLM\\Software\\StatrixTest\\varnel_registry_test_") + corestring(GetCurrentProcessId(), 10) +
      corestring(L"_") + corestring(std::chrono::steady_clock::now().time_since_epoch().count(), 36);
  return key;
}

corestring path(const wchar_t* rest) { return runKey() + corestring(L"\\") + corestring(rest); }

struct Write {
  std::wstring path;
  uint32_t type;
  std::wstring value;
  bool ok;
  bool operator==(const Write&) const = default;
};

class RecordingObserver : public CORE::HostObserver {
 public:
  void onRegistryWrite(const corestring& p, uint32_t type, const corestring& value, bool ok) override {
    writes.push_back({p.str(), type, value.str(), ok});
    SetLastError(999);  // must not leak into the writer's last error
  }
  std::vector<Write> writes;
};

class RegistryTest : public ::testing::Test {
 protected:
  // The Linux layer reads VARNEL_REGISTRY at its first registry call; Windows ignores it.
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("varnel-registry-test-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    static std::string setting;
    setting = "VARNEL_REGISTRY=" + root_.string();
    putenv(setting.data());
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void TearDown() override { CORE::setHostObserver(nullptr); }

  static fs::path root_;
};
fs::path RegistryTest::root_;

TEST_F(RegistryTest, DwordRoundTripsAndRefusesTextThatIsNoFittingDecimal) {
  const corestring p = path(L"Stats\\CpuPercentage");
  EXPECT_TRUE(corestring(L"42").writeRegistry(p, 4, false, false));
  EXPECT_EQ(corestring::readRegistry(p, L"absent", false), corestring(L"42"));
  const auto typed = CORE::registryRead(p);
  ASSERT_TRUE(typed.has_value());
  EXPECT_EQ(typed->type, 4u);
  EXPECT_EQ(typed->text, corestring(L"42"));
  EXPECT_TRUE(corestring(L"-1").writeRegistry(p, 4, false, false));  // stored as two's complement
  EXPECT_EQ(corestring::readRegistry(p, L"", false), corestring(L"4294967295"));

  EXPECT_TRUE(corestring(L"7").writeRegistry(p, 4, false, false));
  for (const wchar_t* bad : {L"4294967296", L"-2147483649", L"12ms", L""}) {
    SetLastError(0);
    EXPECT_FALSE(corestring(bad).writeRegistry(p, 4, false, false)) << corestring(bad).utf8();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  }
  EXPECT_EQ(corestring::readRegistry(p, L"", false), corestring(L"7"));  // failed writes change nothing
}

TEST_F(RegistryTest, StringRoundTripsWithNonAsciiText) {
  const corestring p = path(L"Names\\Text");
  const corestring text(L"caf\u00e9 \u4e2d \U0001F600 !");
  EXPECT_TRUE(text.writeRegistry(p, 1, false, false));
  EXPECT_EQ(corestring::readRegistry(p, L"", false), text);
  EXPECT_EQ(corestring::readRegistry(p.utf8().c_str(), "dflt"), text.utf8());
  EXPECT_TRUE(corestring().writeRegistry(p, 1, false, false));
  EXPECT_EQ(corestring::readRegistry(p, L"dflt", false), corestring());  // empty, yet present
}

TEST_F(RegistryTest, MultiStringRoundTripsAsNulSeparatedItems) {
  const corestring p = path(L"Perflib\\Counter");
  static const wchar_t kJoined[] = L"2\0System\0004\0Memory";
  const corestring joined(kJoined, std::size(kJoined) - 1);
  EXPECT_TRUE(joined.writeRegistry(p, 7, false, false));
  EXPECT_EQ(corestring::readRegistry(p, L"", false), joined);
  auto typed = CORE::registryRead(p);
  ASSERT_TRUE(typed.has_value());
  EXPECT_EQ(typed->type, 7u);
  EXPECT_THAT(typed->items, ::testing::ElementsAre(corestring(L"2"), corestring(L"System"), corestring(L"4"),
                                                   corestring(L"Memory")));

  CORE::RegistryValue value;
  value.type = 7;
  value.items = {L"one", L"", L"two"};  // empty items cannot be stored and are left out
  EXPECT_TRUE(CORE::registryWrite(p, value));
  typed = CORE::registryRead(p);
  ASSERT_TRUE(typed.has_value());
  EXPECT_THAT(typed->items, ::testing::ElementsAre(corestring(L"one"), corestring(L"two")));
}

TEST_F(RegistryTest, MissingValuesGiveTheDefault) {
  EXPECT_EQ(corestring::readRegistry(path(L"Nowhere\\Value"), L"dflt", false), corestring(L"dflt"));
  EXPECT_TRUE(corestring(L"x").writeRegistry(path(L"Here\\Value"), 1, false, false));
  EXPECT_EQ(corestring::readRegistry(path(L"Here\\Other"), L"dflt", false), corestring(L"dflt"));
  EXPECT_FALSE(CORE::registryRead(path(L"Here\\Other")).has_value());
  EXPECT_EQ(corestring::readRegistry(path(L"Nowhere\\Value").utf8().c_str(), "1"), "1");
  EXPECT_EQ(corestring::readRegistry(nullptr, "1"), "1");
}

TEST_F(RegistryTest, RootSpellingsAndBadPaths) {
  const corestring tail = runKey().substr(runKey().find(L"\\")) + corestring(L"\\Roots\\V");
  EXPECT_TRUE(corestring(L"5").writeRegistry(corestring(L"HKEY_LOCAL_MACHINE") + tail, 4, false, false));
  EXPECT_EQ(corestring::readRegistry(corestring(L"hklm") + tail, L"", false), corestring(L"5"));
  for (const wchar_t* bad : {L"HKXX\\Software\\V", L"NoBackslash"}) {
    EXPECT_FALSE(corestring(L"1").writeRegistry(bad, 1, false, false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(corestring::readRegistry(bad, L"dflt", false), corestring(L"dflt"));
  }
  EXPECT_FALSE(corestring(L"1").writeRegistry(path(L"Types\\Binary"), 3, false, false));  // unsupported type
}

TEST_F(RegistryTest, NamesHoldingANulAreRefusedNotCut) {
  const corestring plain = path(L"Nul\\name");
  ASSERT_TRUE(corestring(L"kept").writeRegistry(plain, 1, false, false));
  const corestring valueName = plain + corestring(L"\0tail", 5);
  const corestring keyName = runKey() + corestring(L"\\Nul\0tail\\name", 14);
  for (const corestring& bad : {valueName, keyName}) {
    EXPECT_FALSE(corestring(L"new").writeRegistry(bad, 1, false, false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CORE::registryWrite(bad, {1, corestring(L"new"), {}}));
    EXPECT_FALSE(CORE::registryRead(bad).has_value());
  }
  EXPECT_EQ(corestring::readRegistry(plain, L"", false), corestring(L"kept"));
}

TEST_F(RegistryTest, ObserverSeesEveryCorestringWriteButNotTypedWrites) {
  RecordingObserver observer;
  CORE::setHostObserver(&observer);
  const corestring good = path(L"Events\\Good");
  const corestring bad = path(L"Events\\Bad");
  EXPECT_TRUE(corestring(L"12").writeRegistry(good, 4, false, false));
  EXPECT_FALSE(corestring(L"twelve").writeRegistry(bad, 4, false, false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  CORE::RegistryValue outside;
  outside.type = 1;
  outside.text = L"outside";
  EXPECT_TRUE(CORE::registryWrite(good, outside));
  EXPECT_THAT(observer.writes, ::testing::ElementsAre(Write{good.str(), 4, L"12", true},
                                                      Write{bad.str(), 4, L"twelve", false}));
  EXPECT_EQ(corestring::readRegistry(good, L"", false), corestring(L"outside"));
}

}  // namespace
