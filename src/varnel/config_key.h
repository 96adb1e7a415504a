// A registry key that a sysconfig binds to: opened (created when absent) from its path text,
// read as a whole into name/text pairs, closed when it goes out of scope.
#pragma once
#include <set>

#include "varnel/corestring.h"
#include "varnel/sysconfig.h"
#include "winapi.h"

namespace CORE::config {

class ConfigKey {
 public:
  ConfigKey() = default;
  ConfigKey(const ConfigKey&) = delete;
  ConfigKey& operator=(const ConfigKey&) = delete;
  ~ConfigKey();

  // Opens "ROOT\Sub\Key" (HKLM, HKCU, HKU, HKCR or their long names) for reading and change
  // notification, creating it when absent so that it can be watched. The system status.
  LSTATUS open(const corestring& keyPath);
  HKEY get() const { return key_; }
  bool isOpen() const { return key_ != nullptr; }

  // Every value of the key as readRegistry gives it: SZ and EXPAND_SZ up to the first NUL,
  // DWORD and QWORD in decimal, MULTI_SZ items joined by NULs. Values of other types count as
  // absent. A value that cannot be read (refused by the system, malformed, too short for its
  // number type, still growing after several tries) counts as absent too and costs nothing
  // else; it is logged once with its name, when it becomes unreadable. False only when the key
  // itself cannot be read (then `out` is unchanged). Calls are serialised by the caller.
  bool readAll(corestrmap& out);
  // One value by name, as readAll gives it. False when it is absent or has no text form.
  bool readOne(const corestring& name, corestring& text) const;

 private:
  HKEY key_ = nullptr;
  corestring keyPath_;                                // for log lines
  std::set<corestring, corestringLessI> unreadable_;  // the values the last readAll left out
};

}  // namespace CORE::config
