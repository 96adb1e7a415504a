// CORE::corethreadgroup (a set of live threads that can be waited for) and the module-wide
// group of every thread the module started, which PluginExit waits on.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "frame/host/host.h"

namespace CORE {

class corethreadgroup : public coreref {
 public:
  explicit corethreadgroup(const char* name = nullptr);
  ~corethreadgroup() override;  // forgets the members; their handles are not closed here

  const char* getName() const { return name_.get(); }

  // Enters a thread, or gives an existing member its new handle.
  void add(uint32_t threadId, HANDLE handle);
  // Drops the calling thread, closing its handle when `closeHandle` is set.
  void removeCurrentThread(bool closeHandle);
  // Drops the member `threadId` without closing its handle.
  void remove(uint32_t threadId);
  uint32_t memberCount();
  // Waits until the group is empty or `timeoutMs` is used up (0xFFFFFFFF: no time-out),
  // polling in slices of at most 1000 ms. Members whose handles have become invalid are
  // dropped; after 2000 ms the remaining thread ids are traced whenever their count changes.
  void wait(uint32_t timeoutMs);

 private:
  std::unique_ptr<char[]> name_;
  std::map<uint32_t, HANDLE> members_;  // thread id -> handle, guarded by lock_
  // No two group locks are ever held at once, and none is held while waiting or logging.
  corecritsec lock_;
};

// The group of all live module threads; exactly one static instance, allThreadsGroup.
class corerunnable_allThreadsGroup : public corethreadgroup {
 public:
  corerunnable_allThreadsGroup();
  ~corerunnable_allThreadsGroup() override;  // clears allThreadsGroupAlive first
};

extern corerunnable_allThreadsGroup allThreadsGroup;
// True from the construction of allThreadsGroup until its destruction starts; while false,
// threads neither enter nor leave it.
extern std::atomic<bool> allThreadsGroupAlive;

// Waits on allThreadsGroup, gives ending threads 25 ms more, and returns how many are left.
int32_t waitForAllThreads(uint32_t timeoutMs);

}  // namespace CORE
