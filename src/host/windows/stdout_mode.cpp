// The Windows C runtime opens stdout in text mode; binary mode keeps "\n" as written.
#include "stdout_mode.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace vhost {

void useUntranslatedStdout() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace vhost
