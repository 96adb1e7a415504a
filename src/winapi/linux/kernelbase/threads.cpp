// Thread creation and identity: CreateThread, ResumeThread, ids, pseudo-handles, exit codes and
// the per-thread information block.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "kernelbase/thread_object.h"

namespace winapi_linux {

void ThreadObject::publishId(DWORD id) {
  {
    std::lock_guard lock(gateMutex_);
    id_ = id;
  }
  gate_.notify_all();
}

DWORD ThreadObject::awaitId() {
  std::unique_lock lock(gateMutex_);
  gate_.wait(lock, [this] { return id_ != 0; });
  return id_;
}

DWORD ThreadObject::id() {
  std::lock_guard lock(gateMutex_);
  return id_;
}

void ThreadObject::awaitStart() {
  std::unique_lock lock(gateMutex_);
  gate_.wait(lock, [this] { return suspendCount_ == 0; });
}

DWORD ThreadObject::resume() {
  DWORD previous;
  {
    std::lock_guard lock(gateMutex_);
    previous = suspendCount_;
    if (suspendCount_ > 0) --suspendCount_;
  }
  if (previous == 1) gate_.notify_all();
  return previous;
}

void ThreadObject::markFinished(DWORD code) {
  Dispatcher& d = dispatcher();
  {
    std::lock_guard lock(d.mutex);
    exitCode_ = code;
    finished_ = true;
  }
  d.changed.notify_all();
}

bool ThreadObject::finished() const {
  std::lock_guard lock(dispatcher().mutex);
  return finished_;
}

DWORD ThreadObject::exitCode() const {
  std::lock_guard lock(dispatcher().mutex);
  return exitCode_;
}

namespace {

DWORD kernelThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

// The calling thread's object. Its destructor runs among the thread's thread_local destructors
// (after those constructed later, i.e. after everything the thread body set up), and signals the
// thread's end to every waiter.
struct CurrentThreadSlot {
  std::shared_ptr<ThreadObject> object;
  DWORD exitCode = 0;
  ~CurrentThreadSlot();
};

// Trivially destructible, so still readable while the slot itself is being destroyed.
thread_local bool t_slotGone = false;
thread_local CurrentThreadSlot t_slot;

CurrentThreadSlot::~CurrentThreadSlot() {
  t_slotGone = true;
  if (object) object->markFinished(exitCode);
}

struct StartContext {
  std::shared_ptr<ThreadObject> object;
  LPTHREAD_START_ROUTINE start;
  LPVOID argument;
};

void* threadMain(void* raw) {
  std::unique_ptr<StartContext> context(static_cast<StartContext*>(raw));
  t_slot.object = context->object;
  context->object->publishId(GetCurrentThreadId());
  context->object->awaitStart();
  DWORD code = context->start(context->argument);
  t_slot.exitCode = code;
  return nullptr;
}

// Owns a pthread attribute object.
class ThreadAttributes {
 public:
  ThreadAttributes() { ok_ = pthread_attr_init(&attr_) == 0; }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  ~ThreadAttributes() {
    if (ok_) pthread_attr_destroy(&attr_);
  }
  bool ok() const { return ok_; }
  pthread_attr_t* get() { return &attr_; }

 private:
  pthread_attr_t attr_;
  bool ok_;
};

int startThread(StartContext* context, SIZE_T stackSize) {
  ThreadAttributes attr;
  if (!attr.ok()) return ENOMEM;
  pthread_attr_setdetachstate(attr.get(), PTHREAD_CREATE_DETACHED);
  // On Windows the size is what the stack starts with; it may still grow to the program's
  // default reserve. So only a size above the default stack enlarges it here.
  size_t defaultSize = 0;
  pthread_attr_getstacksize(attr.get(), &defaultSize);
  if (stackSize > defaultSize) {
    SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    if (int rc = pthread_attr_setstacksize(attr.get(), (stackSize + page - 1) / page * page)) return rc;
  }
  pthread_t thread;
  return pthread_create(&thread, attr.get(), threadMain, context);
}

}  // namespace

std::shared_ptr<ThreadObject> currentThreadObject() {
  if (t_slotGone) return nullptr;
  if (!t_slot.object) {
    auto object = std::make_shared<ThreadObject>(0);
    object->publishId(GetCurrentThreadId());
    t_slot.object = std::move(object);
  }
  return t_slot.object;
}

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID arg,
                                 DWORD flags, LPDWORD threadId) {
  (void)sa;
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>((flags & CREATE_SUSPENDED) ? 1 : 0);
  // The handle exists before the thread, so a failure cannot strand a suspended thread.
  HANDLE handle = insertHandle(object);
  if (!handle) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto context = std::make_unique<StartContext>(StartContext{object, start, arg});
  if (int rc = startThread(context.get(), stackSize)) {
    removeHandle(handle);
    errno = rc;
    SetLastError(rc == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  context.release();  // owned by the new thread now
  // The id is the kernel's, known once the thread runs; a suspended thread reports it too.
  DWORD id = object->awaitId();
  if (threadId) *threadId = id;
  return handle;
}

WINAPI_LAYER DWORD ResumeThread(HANDLE thread) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  return object->resume();
}

WINAPI_LAYER HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }
WINAPI_LAYER HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

WINAPI_LAYER DWORD GetCurrentThreadId(void) {
  thread_local DWORD id = 0;
  if (id == 0) id = kernelThreadId();
  return id;
}

WINAPI_LAYER DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

WINAPI_LAYER BOOL GetExitCodeThread(HANDLE thread, LPDWORD code) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!code) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *code = object->exitCode();
  return TRUE;
}

// The information block is zero-initialised per thread; the module keeps its thread-name record
// in the arbitrary-user-pointer slot, which must sit where the 64-bit layout puts it.
static_assert(offsetof(NT_TIB, ArbitraryUserPointer) == 0x28);
static_assert(offsetof(TEB, NtTib) == 0);

WINAPI_LAYER PTEB NtCurrentTeb(void) {
  thread_local TEB teb{};
  teb.NtTib.Self = &teb.NtTib;
  return &teb;
}
