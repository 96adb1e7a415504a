// Running promtool on a text through a scratch file.
#include "support/linux/promtool.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/linux/child_process.h"
#include "support/linux/scratch_dir.h"

namespace statrix_test {

bool havePromtool() { return access(kPromtool, X_OK) == 0; }

bool promtoolAccepts(const std::string& text, std::string& why) {
  ScratchDir dir;
  const std::string input = dir.write("metrics.txt", text), output = dir.path() + "/promtool.out";
  int status = std::system((std::string(kPromtool) + " check metrics < " + input + " > " + output + " 2>&1").c_str());
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  why = "exit status " + std::to_string(code) + "\n" + readFile(output);
  return code == 0;
}

}  // namespace statrix_test
