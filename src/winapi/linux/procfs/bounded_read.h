// Reads of small machine files that never block and never grow without bound.
#pragma once
#include <cstddef>
#include <string>

#include "common/layer_visible.h"

namespace winapi_linux {

// Reads the regular file `path` into `out` (its capacity reused). A FIFO or device is refused
// without blocking (EINVAL), a file longer than `limit` bytes too (EFBIG); else the errno of
// the failed open or read, or 0.
int readRegularFile(const std::string& path, size_t limit, std::string& out);
// The same for a file already open (and known to be regular), read from offset 0 with pread.
LAYER_VISIBLE int readRegularOpenFile(int fd, size_t limit, std::string& out);

}  // namespace winapi_linux
