// A throw-away certificate authority for TLS tests, made with the openssl command line: a CA,
// a server certificate for 127.0.0.1/localhost, a client certificate, and a second CA with a
// client certificate of its own (one the first CA does not vouch for).
#pragma once
#include <string>

namespace statrix_test {

class TestPki {
 public:
  // Makes everything in `dir`: ca.pem, server.pem/.key, client.pem/.key, other-ca.pem,
  // other-client.pem/.key. ok() tells whether it worked; log() what openssl said.
  explicit TestPki(std::string dir);
  bool ok() const { return ok_; }
  const std::string& log() const { return log_; }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  // Issues a fresh server certificate (same key, new serial) into `pemName`, written beside
  // and renamed into place so that a reader never sees half a file.
  bool reissueServer(const std::string& pemName);
  // The serial number of a certificate file, as openssl prints it ("serial=...").
  std::string serialOf(const std::string& pemPath) const;

 private:
  bool run(const std::string& script);

  std::string dir_;
  bool ok_ = false;
  std::string log_;
};

// Runs `command` with sh, returns its exit status and fills `output` with stdout and stderr.
int runCommand(const std::string& command, std::string& output);

}  // namespace statrix_test
