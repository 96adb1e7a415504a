// CORE::corerunnable (a reference-counted object that runs on a thread of its own) and
// CORE::corerun (a runnable calling a plain function), with the module's thread start routine.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "frame/host/host.h"
#include "frame/scoped_handle.h"

namespace CORE {

class corethreadgroup;

class corerunnable : public coreref {
 public:
  corerunnable() = default;
  ~corerunnable() override;

  // The thread's work.
  virtual void run() = 0;

  // Starts the thread. Without a group only one thread may run at a time: a second launch
  // while one runs is refused (false, logged). False also when thread creation fails.
  bool launch();
  // Joins the thread of a runnable without a group (no time-out; not from the thread itself).
  void wait();

  const char* getName() const { return name_.get(); }
  uint32_t getThreadId() const { return threadId_.load(); }

  // The thread start routine of every runnable (the argument is the runnable).
  static unsigned threadMain(void* runnable);

 protected:
  // Sets the name (copied when not empty), the priority (0 keeps the thread's), the wrapper
  // (null: run directly) and the group; wrapper and group each receive a reference. Called
  // once, before the first launch.
  void configure(const char* name, corethreadwrapper* wrapper, corethreadgroup* group, int32_t priority);

 private:
  std::unique_ptr<char[]> name_;
  // Written by launch (before the thread resumes) and cleared by the ending thread; read by
  // wait on any thread.
  std::atomic<uint32_t> threadId_{0};
  ScopedHandle threadHandle_;  // kept only without a group
  int32_t priority_ = 0;
  corethreadwrapper* wrapper_ = nullptr;  // holds a reference
  corethreadgroup* group_ = nullptr;      // holds a reference
  std::atomic<int32_t> runningCount_{0};  // live threads of a runnable without a group
};

// A runnable calling function(argument) on its own thread.
class corerun : public corerunnable {
 public:
  using function_t = void (*)(void*);

  // Starts a thread running function(argument) and returns whether it was started.
  // name: null takes the group's name; an empty name leaves the thread unnamed.
  // wrapper: null takes the host's default wrapper; noWrapper() runs without one.
  static bool startThread(const char* name, function_t function, void* argument, corethreadwrapper* wrapper,
                          corethreadgroup* group, int32_t priority);
  // The wrapper argument meaning "run the function directly".
  static corethreadwrapper* noWrapper() { return reinterpret_cast<corethreadwrapper*>(~uintptr_t{0}); }

  void run() override;

 private:
  corerun(function_t function, void* argument) : argument_(argument), function_(function) {}

  void* argument_;
  function_t function_;
};

}  // namespace CORE
