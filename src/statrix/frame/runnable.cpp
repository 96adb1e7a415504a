// Runnables: launch, join, the thread start routine and function threads.
#include "frame/runnable.h"

#include <cerrno>
#include <cstring>

#include "frame/logger.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"

namespace CORE {

namespace {

corestring wideName(const char* name) { return name ? corestring::fromUtf8(name) : corestring(); }
corestring traceName(const char* name) { return name ? corestring::fromUtf8(name) : corestring(L"UNNAMED"); }

// The body handed to the host's wrapper. Exceptions stop here: they never unwind into the
// host's frames.
void runBody(void* context) {
  auto* runnable = static_cast<corerunnable*>(context);
  try {
    runnable->run();
  } catch (const coreException& e) {
    theLogger.logError(L"corerunnable: EXCEPTION IN THREAD, name=%s, error %s", wideName(runnable->getName()),
                       corestring(e));
  } catch (...) {
    theLogger.logError(L"corerunnable: EXCEPTION IN THREAD, name=%s", wideName(runnable->getName()));
  }
}

void applyAffinity() {
  const uint32_t affinity = corerunnable_threadAffinity;
  if (affinity == 0) return;
  if (affinity == 0xFFFFFFFFu) {
    corerunnable_initThreadAffinity();
  } else {
    SetThreadAffinityMask(GetCurrentThread(), affinity);
  }
}

}  // namespace

corerunnable::~corerunnable() {
  if (group_ != nullptr) {
    group_->Release();
  } else {
    threadHandle_.reset();
  }
  if (wrapper_ != nullptr && wrapper_ != threadwrapper_deconstructed) wrapper_->Release();
}

void corerunnable::configure(const char* name, corethreadwrapper* wrapper, corethreadgroup* group,
                             int32_t priority) {
  if (name != nullptr && *name != 0) {
    const size_t size = std::strlen(name) + 1;
    name_.reset(new char[size]);
    std::memcpy(name_.get(), name, size);
  }
  wrapper_ = wrapper;
  if (wrapper_ != nullptr) wrapper_->AddRef();
  group_ = group;
  if (group_ != nullptr) group_->AddRef();
  priority_ = priority;
}

bool corerunnable::launch() {
  if (group_ == nullptr && runningCount_.fetch_add(1) + 1 >= 2) {
    runningCount_.fetch_sub(1);
    theLogger.logError(L"corerunnable: ONLY ONE THREAD ALLOWED WHEN NO GROUP, name=%s", wideName(getName()));
    return false;
  }

  AddRef();  // the thread's own reference, dropped at its end
  unsigned id = 0;
  const uintptr_t created =
      corerunnable_beginthreadex(nullptr, 0, &corerunnable::threadMain, this, CREATE_SUSPENDED, &id);
  if (created == 0) {
    const int runtimeError = errno;
    const uint32_t systemError = GetLastError();
    Release();
    if (group_ == nullptr) runningCount_.fetch_sub(1);
    theLogger.logError(L"corerunnable: FAILED TO CREATE THREAD, name=%s with error %d, %d", wideName(getName()),
                       runtimeError, static_cast<int32_t>(systemError));
    return false;
  }

  const HANDLE handle = reinterpret_cast<HANDLE>(created);
  if (group_ != nullptr) {
    group_->add(id, handle);
  } else {
    threadHandle_.reset(handle);
    threadId_.store(id);
  }
  if (allThreadsGroupAlive.load()) allThreadsGroup.add(id, handle);
  ResumeThread(handle);
  return true;
}

void corerunnable::wait() {
  if (group_ != nullptr) {
    theLogger.logError(L"corerunnable: ERROR: WAIT WHEN IN GROUP, name=%s", wideName(getName()));
    return;
  }
  const uint32_t id = threadId_.load();
  if (threadHandle_ && id != 0 && id != GetCurrentThreadId()) WaitForSingleObject(threadHandle_.get(), INFINITE);
}

unsigned corerunnable::threadMain(void* context) {
  auto* self = static_cast<corerunnable*>(context);

  applyAffinity();
  const char* name = self->getName();
  if (name != nullptr) setCurrentThreadName(name);
  if (corerunnable_traceThreads) {
    theLogger.log(L"threads", corelogger::levelTrace, L"Begin '%s', count=%u, wrapper=0x%p, group=0x%p",
                  traceName(name), allThreadsGroup.memberCount(), static_cast<const void*>(self->wrapper_),
                  static_cast<const void*>(self->group_));
  }
  if (self->priority_ != 0) SetThreadPriority(GetCurrentThread(), self->priority_);

  if (self->wrapper_ != nullptr) {
    self->wrapper_->run(&runBody, self);
  } else {
    runBody(self);
  }

  if (name != nullptr) clearCurrentThreadName();
  if (corerunnable_traceThreads) {
    const uint32_t all = allThreadsGroup.memberCount();
    const uint32_t inGroup = self->group_ != nullptr ? self->group_->memberCount() : 0;
    theLogger.log(L"threads", corelogger::levelTrace, L"End '%s', count=%u, group=%u", traceName(name),
                  all > 0 ? all - 1 : 0, inGroup > 0 ? inGroup - 1 : 0);
  }
  // Leave quickly once the work is done: waiters are polling for this thread.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  Sleep(0);

  const uint32_t myId = GetCurrentThreadId();
  if (self->group_ != nullptr) {
    self->group_->removeCurrentThread(true);
  } else {
    // The id goes before the count: once the count drops, a new launch may store its own id.
    self->threadId_.store(0);
    self->runningCount_.fetch_sub(1);
  }
  self->Release();  // may destroy the runnable; `self` is not used below

  if (allThreadsGroupAlive.load()) allThreadsGroup.remove(myId);
  return 0;
}

bool corerun::startThread(const char* name, function_t function, void* argument, corethreadwrapper* wrapper,
                          corethreadgroup* group, int32_t priority) {
  if (name == nullptr && group != nullptr) name = group->getName();
  if (wrapper == nullptr) {
    wrapper = corerunnable_defaultThreadWrapper;
  } else if (wrapper == noWrapper()) {
    wrapper = nullptr;
  }
  auto* runnable = new corerun(function, argument);
  runnable->configure(name, wrapper, group, priority);
  const bool started = runnable->launch();
  runnable->Release();  // the thread holds its own reference
  return started;
}

void corerun::run() { function_(argument_); }

}  // namespace CORE
