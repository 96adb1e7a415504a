// File access for the procfs readers: owned descriptors and reads relative to a directory.
#pragma once
#include <cstddef>
#include <span>
#include <string>

#include "scoped_fd.h"

namespace winapi_linux {

// Opens a directory (absolute path, or relative to `dirFd`); errno tells why on failure.
ScopedFd openDirectory(const char* path);
ScopedFd openDirectoryAt(int dirFd, const char* name);

// Outcome of a read: the text's length, or the errno of the failed open or read.
struct ReadResult {
  size_t length = 0;
  int error = 0;
  bool ok() const { return error == 0; }
};

// Reads `dirFd`/`name` into `buffer` without allocating. A file longer than the buffer is cut
// back to its last complete line, so parsers never see a half line as if it were whole.
ReadResult readFileAt(int dirFd, const char* name, std::span<char> buffer);

// Reads a whole file of any length into `out`, reusing its capacity.
int readWholeFileAt(int dirFd, const char* name, std::string& out);
int readWholeFile(const std::string& path, std::string& out);

}  // namespace winapi_linux
