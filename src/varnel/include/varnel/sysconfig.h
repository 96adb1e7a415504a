// CORE::sysconfig: settings bound to one registry key, with defaults and change notification.
//
// Lock order: a binding's delivery lock (held while `changed` runs), then the settings lock
// `lock_`; so never call cleanup while holding the settings lock.
#pragma once
#include <map>
#include <memory>

#include "varnel/corestring.h"
#include "varnel/sync.h"

namespace CORE {

using corestrmap = std::map<corestring, corestring, corestringLessI>;

class VARNEL_API sysconfig {
 public:
  sysconfig();
  sysconfig(const sysconfig&) = delete;
  sysconfig& operator=(const sysconfig&) = delete;
  virtual ~sysconfig();  // unbinds (see cleanup)

  // Unbinds from the key: no `changed` call starts afterwards, and a running one has returned
  // when this returns (unless called from inside `changed`). Derived destructors call it first.
  virtual void cleanup();
  // Binds to `keyPath` ("HKLM\Software\...") with the defaults; reads the current values and
  // starts watching the key. flag1 and flag2 are reserved (the module passes true).
  virtual bool init(const corestring& keyPath, const corestrmap& defaults, bool flag1, bool flag2);
  // Re-reads every value of the key now, calling `changed` for each value that differs.
  virtual void reload();
  // Writes `value` as the registry value `name` (a DWORD value stays one when the text is a
  // number) and delivers the resulting `changed` before returning.
  virtual bool update(const corestring& name, const corestring& value);
  // The registry text of the value, or its default when the value is absent.
  virtual corestring get(const corestring& name);
  virtual bool getBool(const corestring& name);
  virtual int32_t getInt(const corestring& name);
  // Called on a host thread for a value whose registry text changed (by this process or any
  // other writer), once per change; a deleted value reports its default (empty without one).
  // Calls for one object never overlap. The base keeps `get` current; overrides call it first.
  virtual void changed(const corestring& name, corestring& value);

  // The lock of the settings (taken by `changed` callers' overrides and by readers).
  corecritsec& settingsLock() { return lock_; }

  struct Binding;  // shared with the host's watcher thread

 protected:
  corecritsec lock_;

 private:
  std::shared_ptr<Binding> binding_;
};

}  // namespace CORE
