// The plug-in exports and process attach, driven with a test plug-in in place of the module's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "frame/exports.h"
#include "frame/log.h"
#include "frame/logger.h"
#include "frame/plugin.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"
#include "frame_test_env.h"

namespace {

using frame_test::Gate;
using frame_test::LogLine;
using frame_test::LogRecorder;

// The module's own plug-in object, put back after each test plug-in.
CORE::varnelPluginDll* modulePlugin = nullptr;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    frame_test::useTemporaryRegistry();
    modulePlugin = CORE::thePlugin;
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

enum class Throw { Nothing, CoreException, Other };

void throwAs(Throw what, const wchar_t* text) {
  if (what == Throw::CoreException) throw CORE::coreException(text);
  if (what == Throw::Other) throw std::runtime_error("not a framework exception");
}

// Stands in for the module's plug-in while it lives; the module's comes back afterwards.
class TestPlugin : public CORE::varnelPluginDll {
 public:
  ~TestPlugin() override { CORE::thePlugin = modulePlugin; }

  bool initSync() override {
    throwAs(initThrows, L"bad init");
    return syncInit;
  }
  bool initSyncDone() override { return syncResult; }
  void initPlugin() override {
    initThread = GetCurrentThreadId();
    const uint8_t* slot = CORE::currentThreadNameRecord();
    if (slot != nullptr) initThreadRecord.assign(slot, slot + 6 + slot[5]);
    paramsAtInit = copyParams();
    initStarted.open();
    releaseInit.wait();
    initDone = true;
  }
  void cleanupPlugin() override {
    ++cleanups;
    throwAs(cleanupThrows, L"bad exit");
  }

  Throw initThrows = Throw::Nothing;
  Throw cleanupThrows = Throw::Nothing;
  bool syncInit = false;
  bool syncResult = true;
  std::atomic<uint32_t> initThread{0};
  std::string initThreadRecord;
  CORE::PropertyBag paramsAtInit;
  Gate initStarted;
  Gate releaseInit;
  std::atomic<bool> initDone{false};
  std::atomic<int> cleanups{0};
};

bool isErrorLine(const LogLine& line, const std::wstring& text) {
  return !line.external && line.level == CORE::Error && line.text == text;
}

TEST(ProcessAttach, NamesTheModuleAfterItsFileAndAnnouncesIt) {
  LogRecorder log;
  const HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_EQ(DllMain(self, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(moduleName.str(), L"statrix_frame_plugin_test");
  ASSERT_NE(CORE::thePlugin, nullptr);
  EXPECT_EQ(CORE::thePlugin->moduleHandle, self);
  EXPECT_EQ(log.count([](const LogLine& l) { return l.source == L"loaded"; }), 1u);
  // How the host names the loaded file (with or without its extension) is the host's affair.
  EXPECT_EQ(log.lines().back().text.rfind(L"statrix_frame_plugin_test", 0), 0u);

  // Other notifications do nothing and succeed.
  for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
    EXPECT_EQ(DllMain(self, reason, nullptr), TRUE);
  EXPECT_EQ(moduleName.str(), L"statrix_frame_plugin_test");
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(Logging, LinesCarryTheModuleName) {
  LogRecorder log;
  LogMessage(CORE::Info, L"value %d", 7);
  CORE::theLogger.log(L"", 4, L"empty component");
  CORE::theLogger.logError(L"error %s", L"text");
  const std::vector<LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].source, moduleName.str());
  EXPECT_EQ(lines[0].text, L"value 7");
  EXPECT_EQ(lines[1].source, moduleName.str());
  EXPECT_EQ(lines[2].source, moduleName.str());
  EXPECT_EQ(lines[2].level, 1);

  // Without the host's external function the logger stays silent.
  CORE::corelogExternal = nullptr;
  CORE::theLogger.logTrace(L"dropped");
  EXPECT_EQ(log.lines().size(), 3u);
}

TEST(PluginExports, InitReturnsAtOnceAndExitWaitsForTheInitialisationThread) {
  TestPlugin plugin;
  LogRecorder log;
  ASSERT_TRUE(PluginInit());
  ASSERT_TRUE(plugin.initStarted.wait());
  EXPECT_NE(plugin.initThread.load(), GetCurrentThreadId());
  EXPECT_EQ(plugin.initThreadRecord, std::string("name=\x11PluginInitThread", 22) + '\0');

  std::atomic<bool> exitReturned{false};
  std::atomic<bool> initDoneAtReturn{false};
  std::thread exiting([&] {
    PluginExit();
    initDoneAtReturn = plugin.initDone.load();
    exitReturned = true;
  });
  ASSERT_TRUE(log.waitForText(L"varnelPluginDll wait for threads to go"));
  EXPECT_FALSE(exitReturned.load());
  plugin.releaseInit.open();
  exiting.join();
  EXPECT_TRUE(initDoneAtReturn.load());
  EXPECT_EQ(plugin.cleanups.load(), 1);

  std::vector<LogLine> traces;
  for (const LogLine& line : log.lines())
    if (!line.external && line.level == CORE::Trace) traces.push_back(line);
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].text, L"varnelPluginDll wait for threads to go");
  EXPECT_EQ(traces[1].text, L"varnelPluginDll: all threads gone");
  EXPECT_EQ(traces[1].source, moduleName.str());
}

TEST(PluginExports, SynchronousInitialisationReportsInitSyncDone) {
  TestPlugin plugin;
  plugin.syncInit = true;
  plugin.syncResult = false;
  EXPECT_FALSE(PluginInit());
  plugin.syncResult = true;
  EXPECT_TRUE(PluginInit());
  EXPECT_EQ(plugin.initThread.load(), 0u);  // no initialisation thread
  PluginExit();
}

TEST(PluginExports, ExceptionsFromTheHooksAreLoggedAndAbsorbed) {
  TestPlugin plugin;
  LogRecorder log;
  plugin.initThrows = Throw::CoreException;
  EXPECT_TRUE(PluginInit());
  plugin.initThrows = Throw::Other;
  EXPECT_TRUE(PluginInit());
  plugin.cleanupThrows = Throw::CoreException;
  PluginExit();
  plugin.cleanupThrows = Throw::Other;
  PluginExit();

  std::vector<std::wstring> texts;
  for (const LogLine& line : log.lines()) texts.push_back(line.text);
  const std::vector<std::wstring> expected = {
      L"varnelPluginDll exception during init, error bad init",
      L"varnelPluginDll exception during init",
      L"varnelPluginDll exception during cleanup, error bad exit",
      L"varnelPluginDll wait for threads to go",
      L"varnelPluginDll: all threads gone",
      L"varnelPluginDll exception during cleanup",
      L"varnelPluginDll wait for threads to go",
      L"varnelPluginDll: all threads gone",
  };
  EXPECT_EQ(texts, expected);
  const std::vector<LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i : {0u, 1u, 2u, 5u}) EXPECT_TRUE(isErrorLine(lines[i], expected[i])) << i;
}

TEST(PluginExports, ParamsAreCopiedOnlyFromARealBag) {
  TestPlugin plugin;
  EXPECT_TRUE(PluginParams(nullptr));
  EXPECT_EQ(plugin.copyParams().size(), 0u);

  CORE::PropertyBag bag;
  bag.setInt(L"PulseTimerDelay", 250);
  EXPECT_TRUE(PluginParams(&bag));
  bag.setInt(L"PulseTimerDelay", 999);  // the plug-in holds its own copy
  EXPECT_EQ(plugin.copyParams().getInt(L"PulseTimerDelay"), 250);
  EXPECT_TRUE(PluginParams(nullptr));
  EXPECT_EQ(plugin.copyParams().getInt(L"PulseTimerDelay"), 250);

  // Parameters handed over after the initialisation thread copied them change the plug-in's
  // bag, not the copy already taken.
  ASSERT_TRUE(PluginInit());
  ASSERT_TRUE(plugin.initStarted.wait());
  EXPECT_TRUE(PluginParams(&bag));
  plugin.releaseInit.open();
  PluginExit();
  EXPECT_EQ(plugin.paramsAtInit.getInt(L"PulseTimerDelay"), 250);
  EXPECT_EQ(plugin.copyParams().getInt(L"PulseTimerDelay"), 999);

  // No plug-in object at all: nothing happens, still true.
  CORE::thePlugin = nullptr;
  EXPECT_TRUE(PluginParams(&bag));
}

}  // namespace
