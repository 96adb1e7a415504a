// Readers of the system-wide files under the procfs root.
#include "procfs_readers.h"

#include <string>

#include "config.h"
#include "procfs_files.h"

namespace winapi_linux {

namespace {

// `stat` grows with the processor and interrupt count; one buffer per thread keeps the
// periodic reads from allocating once it has grown.
template <class T, class Parse>
Parsed<T> readAndParse(const char* name, Parse parse) {
  thread_local std::string text;
  Parsed<T> result;
  result.readError = readWholeFile(procfsRoot() + "/" + name, text);
  if (result.readError == 0) result.value = parse(text);
  return result;
}

}  // namespace

Parsed<procfs::SystemStat> readSystemStat() {
  return readAndParse<procfs::SystemStat>("stat", procfs::parseSystemStat);
}

Parsed<procfs::Meminfo> readMeminfo() { return readAndParse<procfs::Meminfo>("meminfo", procfs::parseMeminfo); }

}  // namespace winapi_linux
