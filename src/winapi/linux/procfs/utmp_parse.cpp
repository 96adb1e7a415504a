// Parser of utmp records, read in the C library's own record layout.
#include "procfs/utmp_parse.h"

#include <utmp.h>

#include <cstring>

namespace winapi_linux {

namespace {

// Fixed-size fields are NUL-padded but need not hold a NUL when full.
template <size_t N>
std::string text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

std::vector<UtmpLogin> parseUtmp(std::string_view data) {
  std::vector<UtmpLogin> logins;
  for (size_t offset = 0; offset + sizeof(struct utmp) <= data.size(); offset += sizeof(struct utmp)) {
    struct utmp record;
    std::memcpy(&record, data.data() + offset, sizeof record);  // the data need not be aligned
    if (record.ut_type != USER_PROCESS || record.ut_pid <= 0) continue;
    logins.push_back({record.ut_pid, text(record.ut_line), text(record.ut_user)});
  }
  return logins;
}

}  // namespace winapi_linux
