// The test certificate authority, by openssl commands.
#include "support/linux/test_pki.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

namespace statrix_test {

namespace {

constexpr char kFunctions[] = R"(set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
ca() { key "$1.key"; openssl req -x509 -new -key "$1.key" -out "$1.pem" -days 3 -subj "/CN=$1" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"; }
issue() { # name ca usage [subjectAltName] [output]
  [ -f "$1.key" ] || key "$1.key"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$1"
  printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=%s\n%s\n' "$3" "${4:+subjectAltName=$4}" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 -extfile "$1.ext" \
    -out "${5:-$1.pem}.new" 2>/dev/null
  mv "${5:-$1.pem}.new" "${5:-$1.pem}"
}
)";

}  // namespace

int runCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TestPki::TestPki(std::string dir) : dir_(std::move(dir)) {
  ok_ = run("ca ca; ca other-ca; issue server ca serverAuth IP:127.0.0.1,DNS:localhost; issue client ca clientAuth; "
            "issue other-client other-ca clientAuth");
}

bool TestPki::run(const std::string& script) {
  std::string output;
  std::ofstream(dir_ + "/pki.sh") << kFunctions << script << "\n";
  bool good = runCommand("cd '" + dir_ + "' && bash pki.sh", output) == 0;
  log_ += output;
  return good;
}

bool TestPki::reissueServer(const std::string& pemName) {
  return run("issue server ca serverAuth IP:127.0.0.1,DNS:localhost " + pemName);
}

std::string TestPki::serialOf(const std::string& pemPath) const {
  std::string output;
  runCommand("openssl x509 -noout -serial -in '" + pemPath + "'", output);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

}  // namespace statrix_test
