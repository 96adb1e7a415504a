// Windows raises no signal for a closed socket: nothing to do.
#include "metrics/broken_pipe.h"

namespace vhost {

void ignoreBrokenPipe() {}

}  // namespace vhost
