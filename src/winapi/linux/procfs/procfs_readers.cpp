// Readers of the system-wide files under the procfs root.
#include "procfs/procfs_readers.h"

#include <cerrno>
#include <new>
#include <string>

#include "common/config.h"
#include "procfs/procfs_files.h"
#include "procfs/system_files.h"

namespace winapi_linux {

namespace {

// A buffer that grew past this for an odd file is given back after use.
constexpr size_t kKeptCapacity = size_t{256} << 10;

// `stat` grows with the processor and interrupt count; one buffer per thread keeps the
// periodic reads from allocating once it has grown. Never throws: a failed allocation is
// reported as readError ENOMEM.
template <class T, class Parse>
Parsed<T> readAndParse(const char* name, Parse parse) noexcept {
  thread_local std::string text;
  Parsed<T> result;
  try {
    const SystemFile file(procfsRoot() + "/" + name);
    result.readError = file.fd() < 0 ? file.error() : readWholeOpenFile(file.fd(), text);
    if (result.readError == 0) result.value = parse(text);
  } catch (const std::bad_alloc&) {
    result = Parsed<T>{std::nullopt, ENOMEM};
  }
  if (text.capacity() > kKeptCapacity) {
    text.clear();
    text.shrink_to_fit();
  }
  return result;
}

}  // namespace

Parsed<procfs::SystemStat> readSystemStat() noexcept {
  return readAndParse<procfs::SystemStat>("stat", procfs::parseSystemStat);
}

Parsed<procfs::Meminfo> readMeminfo() noexcept {
  return readAndParse<procfs::Meminfo>("meminfo", procfs::parseMeminfo);
}

}  // namespace winapi_linux
