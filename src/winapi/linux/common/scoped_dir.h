// Owning handle of an open directory stream.
#pragma once
#include <dirent.h>

#include <memory>

namespace winapi_linux {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using ScopedDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace winapi_linux
