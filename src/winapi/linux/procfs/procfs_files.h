// File access for the procfs readers: owned descriptors, bounded reads relative to a directory.
#pragma once
#include <cstddef>
#include <span>
#include <string>

#include "common/layer_visible.h"
#include "common/scoped_fd.h"

namespace winapi_linux {

// Opens a directory (absolute path, or relative to `dirFd`); errno tells why on failure.
ScopedFd openDirectory(const char* path);
ScopedFd openDirectoryAt(int dirFd, const char* name);

// Opens `dirFd`/`name` for reading if it is a regular file. The open never blocks (a FIFO
// planted in the tree would otherwise wait for a writer forever); anything but a regular file
// is refused with EINVAL. errno tells why on failure.
LAYER_VISIBLE ScopedFd openRegularAt(int dirFd, const char* name);

// Outcome of a read: the text's length, or the errno of the failed open or read.
struct ReadResult {
  size_t length = 0;
  int error = 0;
  bool ok() const { return error == 0; }
};

// Reads an open file from offset 0 into `buffer` without allocating, so a kept descriptor can
// be read again on every pass. A file longer than the buffer is cut back to its last complete
// line, so parsers never see a half line as if it were whole.
LAYER_VISIBLE ReadResult readOpenFile(int fd, std::span<char> buffer);

// Like readOpenFile with a single pread: a per-process procfs file (stat, statm, status,
// sessionid) comes whole from one read into a buffer larger than it, and a read at its end
// would make the kernel run the file's generator once more.
ReadResult readOpenFileOnce(int fd, std::span<char> buffer);

// Opens (regular files only) and reads `dirFd`/`name` into `buffer` like readOpenFile.
ReadResult readFileAt(int dirFd, const char* name, std::span<char> buffer);

// The most readWholeFile keeps of a file: /proc/stat of a large machine is a few hundred kB;
// anything beyond this is not a procfs file of ours and is cut back to its last complete line.
inline constexpr size_t kMaxWholeFile = size_t{4} << 20;

// Reads a whole file of up to `limit` bytes into `out`, reusing its capacity. Returns 0 or an
// errno; an allocation failure is ENOMEM, never an exception.
int readWholeFileAt(int dirFd, const char* name, std::string& out, size_t limit = kMaxWholeFile) noexcept;
LAYER_VISIBLE int readWholeFile(const std::string& path, std::string& out, size_t limit = kMaxWholeFile) noexcept;
// The same for an open file, read from offset 0 with pread (a kept descriptor's offset is never
// moved).
LAYER_VISIBLE int readWholeOpenFile(int fd, std::string& out, size_t limit = kMaxWholeFile) noexcept;

}  // namespace winapi_linux
