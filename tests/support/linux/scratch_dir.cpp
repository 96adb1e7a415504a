// Temporary directories for tests.
#include "support/linux/scratch_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace statrix_test {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/statrix-test-XXXXXX";
  if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ScratchDir::write(const std::string& name, const std::string& content) const {
  std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file);
  return file;
}

}  // namespace statrix_test
