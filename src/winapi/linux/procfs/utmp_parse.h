// Pure parser of utmp login records (the binary records of the C library's utmp file).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux {

struct UtmpLogin {
  int32_t pid = 0;   // the login process (the session leader)
  std::string line;  // the terminal, "tty1" or "pts/0"
  std::string user;
};

// The records of logged-in users (USER_PROCESS), in file order. A record cut off at the end
// of the data is ignored; other record types (boot time, dead processes, getty) are skipped.
LAYER_VISIBLE std::vector<UtmpLogin> parseUtmp(std::string_view data);

}  // namespace winapi_linux
