// The host's thread facilities used by the module's runnables: thread creation, the thread
// wrapper, and the thread settings (affinity, trace switch).
#pragma once
#include <cstdint>

#include "varnel/coreref.h"

namespace CORE {

// Creates a thread (suspended when initFlags holds 4, CREATE_SUSPENDED), like _beginthreadex:
// returns the thread handle as an integer, 0 on failure with errno and the system's last error
// set. `security` is reserved (null).
using corethreadstart = unsigned (*)(void*);
VARNEL_API uintptr_t corerunnable_beginthreadex(void* security, unsigned stackSize, corethreadstart start, void* arg,
                                                unsigned initFlags, unsigned* threadId);

// Runs a thread body with the host's per-thread set-up around it; the default wrapper catches
// and logs anything the body throws.
class VARNEL_API corethreadwrapper : public coreref {
 public:
  virtual void run(void (*body)(void*), void* context) = 0;
};

VARNEL_API extern corethreadwrapper* corerunnable_defaultThreadWrapper;
// Marker value of a wrapper pointer that must not be released (the wrapper is gone).
VARNEL_API extern corethreadwrapper* const threadwrapper_deconstructed;
// Affinity for new threads: 0 leaves it, 0xFFFFFFFF asks corerunnable_initThreadAffinity,
// anything else is the mask.
VARNEL_API extern uint32_t corerunnable_threadAffinity;
VARNEL_API void corerunnable_initThreadAffinity();
// Thread begin/end trace lines on or off.
VARNEL_API extern bool corerunnable_traceThreads;

}  // namespace CORE
