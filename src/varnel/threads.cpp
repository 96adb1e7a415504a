// The host's thread facilities: thread creation for the module's runnables, the default thread
// wrapper, and the thread settings (affinity, trace switch).
#include <cerrno>
#include <exception>
#include <new>

#include "runtime_log.h"
#include "varnel/threads.h"
#include "winapi.h"

namespace CORE {
namespace {

// What the new thread needs to call a start routine of the _beginthreadex shape; the thread
// frees it.
struct ThreadStart {
  corethreadstart start;
  void* arg;
};

DWORD WINAPI threadStartTrampoline(LPVOID param) {
  const ThreadStart call = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return call.start(call.arg);
}

// Logs what a thread body throws instead of letting it end the process. A static object: the
// reference counting of runnables never deletes it.
class DefaultThreadWrapper final : public corethreadwrapper {
 public:
  long AddRef() override { return 1; }
  long Release() override { return 1; }
  void run(void (*body)(void*), void* context) override {
    try {
      body(context);
    } catch (const std::exception& e) {
      runtime::log(Error, L"thread ended by exception: %s", corestring::fromUtf8(e.what()));
    } catch (...) {
      runtime::log(Error, L"thread ended by an unknown exception");
    }
  }
};

DefaultThreadWrapper g_defaultWrapper;
// Its address is the marker; nothing is ever read through it.
char g_deconstructedMarker;

}  // namespace

corethreadwrapper* corerunnable_defaultThreadWrapper = &g_defaultWrapper;
corethreadwrapper* const threadwrapper_deconstructed = reinterpret_cast<corethreadwrapper*>(&g_deconstructedMarker);
uint32_t corerunnable_threadAffinity = 0;
bool corerunnable_traceThreads = false;

// The stand-in has no affinity policy of its own.
void corerunnable_initThreadAffinity() {}

uintptr_t corerunnable_beginthreadex(void* security, unsigned stackSize, corethreadstart start, void* arg,
                                     unsigned initFlags, unsigned* threadId) {
  (void)security;
  if (!start) {
    errno = EINVAL;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto* call = new (std::nothrow) ThreadStart{start, arg};
  if (!call) {
    errno = ENOMEM;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, stackSize, threadStartTrampoline, call, initFlags & CREATE_SUSPENDED, &id);
  if (!thread) {
    const DWORD error = GetLastError();
    delete call;
    errno = EAGAIN;
    SetLastError(error);  // the system's reason, kept for the caller
    return 0;
  }
  if (threadId) *threadId = id;
  return reinterpret_cast<uintptr_t>(thread);
}

}  // namespace CORE
