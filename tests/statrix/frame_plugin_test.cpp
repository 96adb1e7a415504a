// The plug-in exports and process attach, driven with a test plug-in in place of the module's.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "frame/exports.h"
#include "frame/log.h"
#include "frame/plugin.h"
#include "frame/thread_name.h"
#include "frame_test_env.h"

namespace {

using frame_test::Gate;
using frame_test::LogLine;
using frame_test::LogRecorder;

CORE::varnelPluginDll* modulePlugin = nullptr;  // put back after each test plug-in

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

// Stands in for the module's plug-in while it lives.
class TestPlugin : public CORE::varnelPluginDll {
 public:
  ~TestPlugin() override { CORE::thePlugin = modulePlugin; }

  bool initSync() override {
    throwAs(initThrows, L"bad init");
    return false;
  }
  void initPlugin() override {
    const uint8_t* record = CORE::currentThreadNameRecord();
    if (record != nullptr) initThreadRecord.assign(record, record + 6 + record[5]);
    paramsAtInit = copyParams();
    initStarted.open();
    releaseInit.wait();
    initDone = true;
  }
  void cleanupPlugin() override { throwAs(cleanupThrows, L"bad exit"); }

  Throw initThrows = Throw::Nothing;
  Throw cleanupThrows = Throw::Nothing;
  std::string initThreadRecord;
  CORE::PropertyBag paramsAtInit;
  Gate initStarted, releaseInit;
  std::atomic<bool> initDone{false};
};

TEST(ProcessAttach, NamesTheModuleAfterItsFileAndAnnouncesIt) {
  LogRecorder log;
  const HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_EQ(DllMain(self, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(moduleName.str(), L"statrix_frame_plugin_test");
  EXPECT_EQ(CORE::thePlugin->moduleHandle, self);
  for (DWORD other : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
    EXPECT_EQ(DllMain(self, other, nullptr), TRUE);
  // One library-loaded notice; how the host spells the file is its own affair.
  ASSERT_EQ(log.logged().size(), 1u);
  EXPECT_EQ(log.logged()[0].kind, LogLine::Loaded);
  EXPECT_EQ(log.logged()[0].text.rfind(L"statrix_frame_plugin_test", 0), 0u);
}

TEST(PluginExports, InitReturnsAtOnceAndExitWaitsForTheInitialisationThread) {
  TestPlugin plugin;
  LogRecorder log;
  ASSERT_TRUE(PluginInit());
  ASSERT_TRUE(plugin.initStarted.wait());
  EXPECT_EQ(plugin.initThreadRecord, std::string("name=\x11PluginInitThread", 22) + '\0');

  std::atomic<bool> exitReturned{false}, initDoneAtReturn{false};
  std::thread exiting([&] {
    PluginExit();
    initDoneAtReturn = plugin.initDone.load();
    exitReturned = true;
  });
  ASSERT_TRUE(log.waitFor(L"varnelPluginDll wait for threads to go"));
  EXPECT_FALSE(exitReturned.load());
  plugin.releaseInit.open();
  exiting.join();
  EXPECT_TRUE(initDoneAtReturn.load());

  const std::vector<LogLine> lines = log.logged();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, L"varnelPluginDll wait for threads to go");
  EXPECT_EQ(lines[1].text, L"varnelPluginDll: all threads gone");
  for (const LogLine& line : lines) {
    EXPECT_EQ(line.level, CORE::Trace);
    EXPECT_EQ(line.source, moduleName.str());
  }
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
  EXPECT_EQ(log.texts(), expected);
  EXPECT_EQ(log.count([](const LogLine& l) { return l.level == CORE::Error; }), 4u);
}

TEST(PluginExports, ParamsAreCopiedFromARealBagOnly) {
  TestPlugin plugin;
  CORE::PropertyBag bag;
  bag.setInt(L"PulseTimerDelay", 250);
  EXPECT_TRUE(PluginParams(&bag));
  EXPECT_TRUE(PluginParams(nullptr));
  bag.setInt(L"PulseTimerDelay", 999);  // the plug-in holds its own copy
  EXPECT_EQ(plugin.copyParams().getInt(L"PulseTimerDelay"), 250);

  // Handed over after the initialisation thread took its copy: only the plug-in's bag changes.
  ASSERT_TRUE(PluginInit());
  ASSERT_TRUE(plugin.initStarted.wait());
  EXPECT_TRUE(PluginParams(&bag));
  plugin.releaseInit.open();
  PluginExit();
  EXPECT_EQ(plugin.paramsAtInit.getInt(L"PulseTimerDelay"), 250);
  EXPECT_EQ(plugin.copyParams().getInt(L"PulseTimerDelay"), 999);

  CORE::thePlugin = nullptr;  // no plug-in object: nothing happens, still true
  EXPECT_TRUE(PluginParams(&bag));
}

}  // namespace
