// Keeps the thread's last-error value across a scope whose calls may change it.
#pragma once
#include "winapi.h"

namespace CORE {

// Callers read GetLastError() around helpers such as formatError, possibly after them, so
// helpers that make system calls of their own restore the value they found.
class LastErrorGuard {
 public:
  LastErrorGuard() : saved_(GetLastError()) {}
  LastErrorGuard(const LastErrorGuard&) = delete;
  LastErrorGuard& operator=(const LastErrorGuard&) = delete;
  ~LastErrorGuard() { SetLastError(saved_); }

 private:
  DWORD saved_;
};

}  // namespace CORE
