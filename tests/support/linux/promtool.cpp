// Running promtool on a text through a scratch file.
#include "support/linux/promtool.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "support/linux/scratch_dir.h"

namespace statrix_test {

bool havePromtool() { return access(kPromtool, X_OK) == 0; }

bool promtoolAccepts(const std::string& text, std::string& why) {
  ScratchDir dir;
  std::string input = dir.write("metrics.txt", text);
  std::string command = std::string(kPromtool) + " check metrics < " + input + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    why = "cannot run " + command;
    return false;
  }
  std::string output;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  why = "exit status " + std::to_string(code) + "\n" + output;
  if (code == 0) return true;
  if (code != 3) return false;  // 3: lint remarks only
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line))
    if (line != "statrix_counter metric name should not include type 'counter'") return false;
  return true;
}

}  // namespace statrix_test
