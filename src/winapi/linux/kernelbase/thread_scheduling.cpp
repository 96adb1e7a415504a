// Thread priority and processor affinity, applied best effort: the wish is recorded and handed
// to the scheduler when the system allows it; lack of privilege never fails the caller.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "kernelbase/thread_object.h"

namespace winapi_linux {
namespace {

// Nice value offset for a Windows priority, relative to the process's own nice value.
bool niceOffset(int priority, int& offset) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE: offset = 19; return true;
    case THREAD_PRIORITY_LOWEST: offset = 10; return true;
    case THREAD_PRIORITY_BELOW_NORMAL: offset = 5; return true;
    case THREAD_PRIORITY_NORMAL: offset = 0; return true;
    case THREAD_PRIORITY_ABOVE_NORMAL: offset = -5; return true;
    case THREAD_PRIORITY_HIGHEST: offset = -10; return true;
    case THREAD_PRIORITY_TIME_CRITICAL: offset = -20; return true;
    default: return false;
  }
}

// Processors 0-63 (processor group 0) of a CPU set as a Windows mask.
DWORD_PTR toMask(const cpu_set_t& set) {
  DWORD_PTR mask = 0;
  for (int cpu = 0; cpu < 64; ++cpu)
    if (CPU_ISSET(cpu, &set)) mask |= DWORD_PTR{1} << cpu;
  return mask;
}

DWORD_PTR onlineProcessorsMask() {
  long count = std::clamp(sysconf(_SC_NPROCESSORS_ONLN), 1L, 64L);
  return count == 64 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << count) - 1;
}

}  // namespace
}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER BOOL SetThreadPriority(HANDLE thread, int priority) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  int offset;
  if (!niceOffset(priority, offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  object->setPriority(priority);
  // An ended thread's id may already name another thread: leave the scheduler alone then.
  if (!object->finished()) {
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno != 0) base = 0;
    // Raising needs privilege (EPERM/EACCES without it); the recorded wish stands regardless.
    setpriority(PRIO_PROCESS, static_cast<id_t>(object->id()), std::clamp(base + offset, -20, 19));
  }
  return TRUE;
}

WINAPI_LAYER int GetThreadPriority(HANDLE thread) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return object->priority();
}

WINAPI_LAYER DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (mask == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD_PTR previous = object->affinity() ? object->affinity() : onlineProcessorsMask();
  if (object->finished()) {
    object->setAffinity(mask);
    return previous;
  }
  auto tid = static_cast<pid_t>(object->id());
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(tid, sizeof set, &set) == 0) previous = toMask(set);
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64; ++cpu)
    if (mask & (DWORD_PTR{1} << cpu)) CPU_SET(cpu, &set);
  if (sched_setaffinity(tid, sizeof set, &set) != 0 && errno == EINVAL) {
    // No processor of the mask is available to this process: Windows refuses such a mask too.
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  object->setAffinity(mask);
  return previous;
}
