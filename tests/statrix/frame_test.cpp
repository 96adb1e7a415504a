// The frame: the plug-in exports and process attach, driven with a test plug-in in place of the
// module's; runnables, thread groups, the all-threads wait and the thread-name record.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cpumem_watch_env.h"
#include "frame/exports.h"
#include "frame/log.h"
#include "frame/plugin.h"
#include "frame/runnable.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"

namespace {

using watch_test::Gate;
using LogLine = watch_test::Event;
using LogRecorder = watch_test::Recorder;

CORE::varnelPluginDll* modulePlugin = nullptr;  // put back after each test plug-in

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    watch_test::temporaryRegistry();
    // Names on, whatever an earlier run left in a shared registry.
    CORE::registryWrite(L"HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames", {1, L"1", {}});
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
    initStarted.open();
    releaseInit.wait();
    initDone = true;
  }
  void cleanupPlugin() override { throwAs(cleanupThrows, L"bad exit"); }

  Throw initThrows = Throw::Nothing;
  Throw cleanupThrows = Throw::Nothing;
  std::string initThreadRecord;
  Gate initStarted, releaseInit;
  std::atomic<bool> initDone{false};
};

TEST(ProcessAttach, NamesTheModuleAfterItsFileAndAnnouncesIt) {
  LogRecorder log;
  const HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_EQ(DllMain(self, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(moduleName.str(), L"statrix_frame_test");
  EXPECT_EQ(CORE::thePlugin->moduleHandle, self);
  for (DWORD other : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
    EXPECT_EQ(DllMain(self, other, nullptr), TRUE);
  // One library-loaded notice; how the host spells the file is its own affair.
  ASSERT_EQ(log.logged().size(), 1u);
  EXPECT_EQ(log.logged()[0].kind, LogLine::Loaded);
  EXPECT_EQ(log.logged()[0].text.rfind(L"statrix_frame_test", 0), 0u);
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

  // Each exception is one Error line, and each exit still waits for the threads.
  EXPECT_EQ(log.count(L"varnelPluginDll: all threads gone"), 2u);
  EXPECT_EQ(log.count([](const LogLine& l) { return l.level == CORE::Error; }), 4u);
}

// A runnable whose run blocks until the test opens its gate.
class GatedRunnable : public CORE::corerunnable {
 public:
  explicit GatedRunnable(const char* name, CORE::corethreadgroup* group = nullptr) {
    configure(name, nullptr, group, 0);
  }
  void run() override {
    ++runs;
    started.open();
    release.wait();
  }
  std::atomic<int> runs{0};
  Gate started, release;
};

TEST(Runnable, SecondLaunchWhileRunningIsRefusedAndLeavesTheFirstThreadAlone) {
  auto* runnable = new GatedRunnable("gated");
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());
  const uint32_t firstId = runnable->getThreadId();

  EXPECT_FALSE(runnable->launch());
  EXPECT_EQ(runnable->getThreadId(), firstId);
  EXPECT_EQ(runnable->runs.load(), 1);

  runnable->release.open();
  runnable->wait();
  EXPECT_EQ(runnable->getThreadId(), 0u);
  ASSERT_TRUE(runnable->launch());  // idle again
  runnable->wait();
  EXPECT_EQ(runnable->runs.load(), 2);
  runnable->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

TEST(ThreadGroup, MembersAreJoinedThroughTheGroupAndAClosedHandleHoldsNoWaitUp) {
  LogRecorder log;
  auto* group = new CORE::corethreadgroup("workers");
  auto* runnable = new GatedRunnable("member", group);
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());
  // A grouped runnable is joined through its group, never by itself.
  runnable->wait();
  EXPECT_EQ(log.count(L"corerunnable: ERROR: WAIT WHEN IN GROUP, name=member"), 1u);
  runnable->release.open();
  runnable->Release();
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);

  // A member whose handle is no longer open must not hold a wait up.
  const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  group->add(4242, closed);
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);
  group->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

// Copies the calling thread's name record (or nothing) out of its thread block.
struct RecordProbe {
  std::string record;
  static void body(void* self) {
    const uint8_t* slot = CORE::currentThreadNameRecord();
    if (slot != nullptr) static_cast<RecordProbe*>(self)->record.assign(slot, slot + slot[5] + 6);
  }
};

TEST(ThreadName, ANameOf300BytesKeepsItsFirst254) {
  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  RecordProbe named, unnamed;
  const auto direct = CORE::corerun::noWrapper();
  ASSERT_TRUE(CORE::corerun::startThread(name.c_str(), &RecordProbe::body, &named, direct, nullptr, 0));
  ASSERT_TRUE(CORE::corerun::startThread("", &RecordProbe::body, &unnamed, direct, nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(named.record, "name=\xFF" + name.substr(0, 254) + '\0');
  EXPECT_EQ(unnamed.record, "");
}

void throwing(void*) { throw std::runtime_error("boom"); }

TEST(Threads, AnExceptionLeavingTheBodyIsLoggedAndTheThreadStillEnds) {
  LogRecorder log;
  ASSERT_TRUE(CORE::corerun::startThread("thrower", &throwing, nullptr, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(log.count(L"corerunnable: EXCEPTION IN THREAD, name=thrower"), 1u);
}

}  // namespace
