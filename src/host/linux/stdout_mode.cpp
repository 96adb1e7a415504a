// POSIX stdout never translates line ends: nothing to do.
#include "stdout_mode.h"

namespace vhost {

void useUntranslatedStdout() {}

}  // namespace vhost
