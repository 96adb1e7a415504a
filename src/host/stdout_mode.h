// Keeps event lines byte-identical on every platform: "\n" ends a line, never "\r\n".
#pragma once

namespace vhost {

// Switches stdout to untranslated output where the C runtime would turn "\n" into "\r\n".
void useUntranslatedStdout();

}  // namespace vhost
