// Readers of the system-wide files under the procfs root ($VARNEL_PROCFS, read at each call).
#pragma once
#include <optional>

#include "procfs/procfs_parse.h"

namespace winapi_linux {

// The figures of one file, or why there are none: readError is the errno of an unreadable
// file; a readable file that did not parse leaves it 0.
template <class T>
struct Parsed {
  std::optional<T> value;
  int readError = 0;
};

// Neither throws: an allocation failure is readError ENOMEM.
Parsed<procfs::SystemStat> readSystemStat() noexcept;
Parsed<procfs::Meminfo> readMeminfo() noexcept;

}  // namespace winapi_linux
