// The registry through varnel: round trips through corestring's helpers and the host's typed
// access with the write events the observer sees, and registry-backed settings (defaults,
// values written by an outside writer reaching `changed`, exactly-once delivery under
// syncConfiguration, deleted values, and unbinding: no `changed` afterwards, waiting for a
// running one). Linux: a fresh file-backed root; Windows: the real registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/corestring.h"
#include "varnel/host_control.h"
#include "varnel/logging.h"
#include "varnel/sysconfig.h"
#include "winapi.h"

namespace {

using namespace std::chrono_literals;
using CORE::corestring;
using varnel_test::Signal;
namespace fs = std::filesystem;

// The Linux layer reads VARNEL_REGISTRY at its first registry call; Windows ignores it.
class RegistryRoot : public ::testing::Environment {
 public:
  static fs::path& path() {
    static fs::path root = fs::temp_directory_path() / ("varnel-registry-" + std::to_string(GetCurrentProcessId()));
    return root;
  }
  void SetUp() override {
    static std::string setting;
    fs::remove_all(path());
    fs::create_directories(path());
    setting = "VARNEL_REGISTRY=" + path().string();
    putenv(setting.data());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(path(), ignored);
  }
};
[[maybe_unused]] const auto* const kRoot = ::testing::AddGlobalTestEnvironment(new RegistryRoot);

// Unique per run, so a key that a test expects to be missing really is.
const corestring& runKey() {
  static const corestring key =
      corestring(L"HKLM\\Software\\StatrixTest\\varnel_registry_test_") + corestring(GetCurrentProcessId(), 10) +
      corestring(L"_") + corestring(std::chrono::steady_clock::now().time_since_epoch().count(), 36);
  return key;
}

corestring path(const wchar_t* rest) { return runKey() + corestring(L"\\") + corestring(rest); }

class RecordingObserver : public CORE::HostObserver {
 public:
  void onRegistryWrite(const corestring& p, uint32_t type, const corestring& value, bool ok) override {
    writes.push_back(p.str() + L" " + std::to_wstring(type) + L" " + value.str() + (ok ? L" ok" : L" failed"));
    SetLastError(999);  // must not leak into the writer's last error
  }
  std::vector<std::wstring> writes;
};

TEST(Registry, DwordAndMultiStringRoundTripAndADwordRefusesTextThatIsNoFittingDecimal) {
  const corestring p = path(L"Stats\\CpuPercentage");
  EXPECT_TRUE(corestring(L"-1").writeRegistry(p, 4, false, false));  // stored as two's complement
  EXPECT_EQ(corestring::readRegistry(p, L"", false), corestring(L"4294967295"));

  EXPECT_TRUE(corestring(L"7").writeRegistry(p, 4, false, false));
  for (const wchar_t* bad : {L"4294967296", L"-2147483649", L"12ms", L""}) {
    SetLastError(0);
    EXPECT_FALSE(corestring(bad).writeRegistry(p, 4, false, false)) << corestring(bad).utf8();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  }
  EXPECT_EQ(corestring::readRegistry(p, L"", false), corestring(L"7"));  // failed writes change nothing

  const corestring list = path(L"Perflib\\Counter");  // items separated by NUL
  static const wchar_t kJoined[] = L"2\0System\0004\0Memory";
  const corestring joined(kJoined, std::size(kJoined) - 1);
  EXPECT_TRUE(joined.writeRegistry(list, 7, false, false));
  EXPECT_EQ(corestring::readRegistry(list, L"", false), joined);
}

TEST(Registry, MissingValuesRootSpellingsAndBadPaths) {
  EXPECT_EQ(corestring::readRegistry(path(L"Nowhere\\Value"), L"dflt", false), corestring(L"dflt"));
  EXPECT_TRUE(corestring(L"").writeRegistry(path(L"Here\\Value"), 1, false, false));
  EXPECT_EQ(corestring::readRegistry(path(L"Here\\Value"), L"dflt", false), corestring());  // empty, yet present
  EXPECT_EQ(corestring::readRegistry(nullptr, "1"), "1");
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

TEST(Registry, NamesHoldingANulAreRefusedNotCut) {
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

TEST(Registry, ObserverSeesEveryCorestringWriteButNotTypedWrites) {
  RecordingObserver observer;
  CORE::setHostObserver(&observer);
  const corestring good = path(L"Events\\Good");
  const corestring bad = path(L"Events\\Bad");
  EXPECT_TRUE(corestring(L"12").writeRegistry(good, 4, false, false));
  EXPECT_FALSE(corestring(L"twelve").writeRegistry(bad, 4, false, false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(CORE::registryWrite(good, {1, corestring(L"outside"), {}}));
  const std::vector<std::wstring> expected{good.str() + L" 4 12 ok", bad.str() + L" 4 twelve failed"};
  EXPECT_EQ(observer.writes, expected);
  EXPECT_EQ(corestring::readRegistry(good, L"", false), corestring(L"outside"));
  CORE::setHostObserver(nullptr);
}

using Change = std::pair<std::wstring, std::wstring>;

// Records every change; `hook` runs inside `changed` after the base has taken the value.
class Recorder : public CORE::sysconfig {
 public:
  ~Recorder() override { cleanup(); }

  void changed(const corestring& name, corestring& value) override {
    CORE::coresync hold(settingsLock());  // as the watch does: the settings lock around its update
    CORE::sysconfig::changed(name, value);
    if (hook) hook(name);
    {
      std::lock_guard lock(mutex_);
      changes_.emplace_back(name.str(), value.str());
    }
    cv_.notify_all();
  }

  std::vector<Change> changes() {
    std::lock_guard lock(mutex_);
    return changes_;
  }
  size_t count(const Change& c) {
    const auto all = changes();
    return static_cast<size_t>(std::count(all.begin(), all.end(), c));
  }
  bool waitUntil(const std::function<bool(const std::vector<Change>&)>& done) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 20s, [&] { return done(changes_); });
  }

  std::function<void(const corestring&)> hook;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Change> changes_;
};

// Every test binds its own key under the private root (the file-backed registry) or a test key
// of the system registry (Windows).
class Sysconfig : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    subKey_ = L"Software\\StatrixRuntimeTest\\" +
              std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count()) + L"-" +
              std::to_wstring(++serial);
    keyPath_ = L"HKLM\\" + subKey_;
    defaults_ = {{L"Interval", L"30"}, {L"Threshold", L"90"}, {L"List", L"*"}};
  }

  bool bind(Recorder& config) { return config.init(keyPath_, defaults_, true, true); }

  bool write(const std::wstring& name, const std::wstring& text, uint32_t type = REG_SZ) {
    return CORE::registryWrite(keyPath_ + L"\\" + name, {type, corestring(text), {}});
  }
  bool remove(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey_.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
      return false;
    const bool ok = RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }

  // Writes a value as an outside writer: by hand into the file-backed registry (the file of
  // the value in the key's directory), or with the system's reg tool in its own process.
  bool writeFromOutside(const std::string& name, const std::string& text) {
    fs::path dir = RegistryRoot::path() / "HKLM";
    for (const auto& part : corestring(subKey_).split(L'\\', false)) dir /= part.utf8();
    if (fs::is_directory(dir)) {
      std::ofstream out(dir / name, std::ios::trunc);
      out << text << "\n";
      return static_cast<bool>(out);
    }
    const std::string command = "reg add \"" + corestring(keyPath_).utf8() + "\" /v " + name + " /t REG_SZ /d " +
                                text + " /f >NUL 2>&1";
    return std::system(command.c_str()) == 0;
  }

  std::wstring subKey_;
  std::wstring keyPath_;
  CORE::corestrmap defaults_;
};

TEST_F(Sysconfig, AnOutsideWriterIsNoticed) {
  Recorder config;
  ASSERT_TRUE(bind(config));
  ASSERT_TRUE(writeFromOutside("Interval", "12"));
  ASSERT_TRUE(config.waitUntil([](const auto& all) { return !all.empty() && all.back().second == L"12"; }));
  EXPECT_EQ(config.getInt(L"Interval"), 12);
}

// The key is read value by value, so a value deleted during a read shifts the ones after it.
// Such a read must not report an untouched value as gone and back.
TEST_F(Sysconfig, ValuesDeletedDuringAScanDoNotHideTheOthers) {
  ASSERT_TRUE(write(L"Interval", L"45"));
  ASSERT_TRUE(write(L"Threshold", L"50"));
  Recorder config;
  ASSERT_TRUE(bind(config));
  std::thread churn([&] {
    for (int i = 0; i < 1000; ++i) {
      EXPECT_TRUE(write(L"List", L"x"));
      EXPECT_TRUE(remove(L"List"));
    }
  });
  for (int i = 0; i < 1000; ++i) CORE::syncConfiguration();
  churn.join();
  for (const auto& [name, value] : config.changes()) EXPECT_EQ(name, L"List") << corestring(value).utf8();
}

TEST_F(Sysconfig, ValuesThereAreCachedChangesComeOnceAndADeletedValueFallsBack) {
  ASSERT_TRUE(write(L"Interval", L"45", REG_DWORD));
  Recorder config;
  ASSERT_TRUE(bind(config));
  EXPECT_EQ(config.get(L"INTERVAL"), corestring(L"45"));
  EXPECT_EQ(config.getInt(L"Threshold"), 90);
  CORE::syncConfiguration();
  EXPECT_TRUE(config.changes().empty());  // nothing changed since init
  for (int i = 1; i <= 20; ++i) {
    const std::wstring text = std::to_wstring(i);
    ASSERT_TRUE(write(L"Interval", text, REG_DWORD));
    CORE::syncConfiguration();
    // Delivered by the time sync returns, whoever noticed it.
    ASSERT_EQ(config.count({L"Interval", text}), 1u) << "value " << i;
  }
  ASSERT_TRUE(write(L"Threshold", L"50"));
  ASSERT_TRUE(write(L"Extra", L"x"));
  ASSERT_TRUE(write(L"List", L"*"));  // equal to its default: nothing changes
  CORE::syncConfiguration();
  ASSERT_TRUE(remove(L"Threshold"));
  ASSERT_TRUE(remove(L"Extra"));
  ASSERT_TRUE(remove(L"List"));
  CORE::syncConfiguration();
  // Writes and deletions may each be noticed on their own, so only the set is fixed.
  EXPECT_EQ(config.count({L"Threshold", L"50"}), 1u);
  EXPECT_EQ(config.count({L"Threshold", L"90"}), 1u);  // its default
  EXPECT_EQ(config.count({L"Extra", L"x"}), 1u);
  EXPECT_EQ(config.count({L"Extra", L""}), 1u);  // no default: empty
  std::this_thread::sleep_for(200ms);  // the watcher catches up with nothing left to deliver
  CORE::syncConfiguration();
  std::wstring all;
  for (const auto& [name, value] : config.changes()) all += name + L"=" + value + L" ";
  EXPECT_EQ(config.changes().size(), 24u) << corestring(all).utf8();  // "List" never differed from its default
  EXPECT_EQ(config.get(L"Threshold"), corestring(L"90"));
}

// A value that cannot be read (file-backed: malformed or beyond the size limit; Windows: a
// DWORD with too few bytes) costs only itself: the others are read, their changes delivered,
// and it is logged once, by name, not at every later scan.
TEST_F(Sysconfig, AnUnreadableValueCostsOnlyItselfAndIsLoggedOnce) {
  varnel_test::RecordingObserver log;
  ASSERT_TRUE(write(L"Interval", L"45", REG_DWORD));
  fs::path dir = RegistryRoot::path() / "HKLM";
  for (const auto& part : corestring(subKey_).split(L'\\', false)) dir /= part.utf8();
  std::vector<std::string> bad = {"Notes", "Huge"};
  if (fs::is_directory(dir)) {
    std::ofstream(dir / "Notes") << "dword:12x\n";
    std::ofstream(dir / "Huge") << std::string((size_t{17} << 20), 'x');
  } else {
    bad.pop_back();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey_.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    const BYTE shortNumber[3] = {1, 2, 3};
    EXPECT_EQ(RegSetValueExW(key, L"Notes", 0, REG_DWORD, shortNumber, sizeof shortNumber), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  Recorder config;
  ASSERT_TRUE(bind(config));
  EXPECT_EQ(config.get(L"Interval"), corestring(L"45"));
  EXPECT_EQ(config.get(L"Notes"), corestring());
  ASSERT_TRUE(write(L"Interval", L"12", REG_DWORD));
  CORE::syncConfiguration();
  CORE::syncConfiguration();
  EXPECT_EQ(config.changes(), (std::vector<Change>{{L"Interval", L"12"}}));
  for (const std::string& name : bad) {
    const std::wstring named = L": value " + corestring::fromUtf8(name).str() + L" cannot be read";
    EXPECT_EQ(std::ranges::count_if(log.events(),
                                    [&](const varnel_test::Event& e) {
                                      return e.kind == L"log" && e.number == CORE::Warn &&
                                             e.text.find(named) != std::wstring::npos;
                                    }),
              1)
        << name;
  }
}

TEST_F(Sysconfig, CleanupWaitsForARunningChangedAndNoneStartsAfterIt) {
  Recorder config;
  ASSERT_TRUE(bind(config));
  Signal entered;
  std::atomic<bool> finished{false};
  config.hook = [&](const corestring&) {
    entered.set();
    std::this_thread::sleep_for(50ms);
    finished = true;
  };
  ASSERT_TRUE(write(L"Interval", L"5"));
  std::thread syncer([] { CORE::syncConfiguration(); });
  ASSERT_TRUE(entered.wait());
  config.cleanup();
  EXPECT_TRUE(finished);
  syncer.join();
  ASSERT_TRUE(write(L"Interval", L"6"));
  CORE::syncConfiguration();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(config.changes(), (std::vector<Change>{{L"Interval", L"5"}}));
  EXPECT_EQ(config.get(L"Interval"), corestring(L"5"));  // the last settings stay readable
}

TEST_F(Sysconfig, ChangedMayCleanUpOrWriteAndSyncWithoutDeadlock) {
  Recorder nested;
  ASSERT_TRUE(bind(nested));
  nested.hook = [&](const corestring& name) {
    if (name.comparei(L"Interval") != 0) return;
    write(L"Threshold", L"66");
    CORE::syncConfiguration();  // from inside: the running scan looks again instead
  };
  ASSERT_TRUE(write(L"Interval", L"8"));
  CORE::syncConfiguration();
  EXPECT_EQ(nested.count({L"Threshold", L"66"}), 1u);

  SetUp();  // a key of its own
  Recorder leaving;
  ASSERT_TRUE(bind(leaving));
  leaving.hook = [&](const corestring&) { leaving.cleanup(); };
  ASSERT_TRUE(write(L"Interval", L"1"));
  ASSERT_TRUE(write(L"Threshold", L"2"));
  CORE::syncConfiguration();
  ASSERT_TRUE(leaving.waitUntil([](const auto& all) { return !all.empty(); }));  // whoever delivered the first change stopped there
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(leaving.changes().size(), 1u);
}

}  // namespace
