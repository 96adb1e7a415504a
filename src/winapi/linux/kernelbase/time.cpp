// Tick counts and Sleep.
#include <sched.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "winapi.h"

namespace {

// Milliseconds since boot, counting time spent suspended as Windows does (CLOCK_BOOTTIME is
// monotonic as well).
ULONGLONG millisecondsSinceBoot() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

}  // namespace

// Wraps after about 49.7 days, like the Windows counter.
WINAPI_LAYER DWORD GetTickCount(void) { return static_cast<DWORD>(millisecondsSinceBoot()); }

WINAPI_LAYER ULONGLONG GetTickCount64(void) { return millisecondsSinceBoot(); }

WINAPI_LAYER void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();  // gives up the rest of the time slice, as Sleep(0) does
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
