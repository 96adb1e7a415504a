// A fresh temporary directory for one test, removed with its contents when the object goes.
#pragma once
#include <string>

namespace statrix_test {

class ScratchDir {
 public:
  ScratchDir();  // under $TMPDIR, else /tmp
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `content` to the file `name` inside the directory and returns its full path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace statrix_test
