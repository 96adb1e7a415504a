// Basic authentication: the Authorization field, the table of bcrypt hashes and a cache of
// recent verdicts so that a scrape every few seconds costs no bcrypt.
#pragma once
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/password_check.h"
#include "metrics/web_config.h"

namespace vhost {

struct Credentials {
  std::string user, password;
  Digest key;  // SHA-256 of "user:password": what the cache keeps instead of the password
};

// "Basic <base64 of user:password>"; false when the field is empty or malformed.
bool parseBasicCredentials(std::string_view field, Credentials& out);

// The configured users. verify() is slow on purpose (bcrypt) and runs off the event loop.
class UserTable {
 public:
  explicit UserTable(std::vector<BasicAuthUser> users);
  bool empty() const { return users_.empty(); }
  const std::vector<BasicAuthUser>& users() const { return users_; }
  // An unknown user is checked against a decoy hash of the same cost, so it takes as long and
  // gets the same answer as a wrong password. Names are compared in constant time.
  bool verify(const Credentials& credentials) const;

 private:
  std::vector<BasicAuthUser> users_;
  std::vector<Digest> nameDigests_;
  mutable std::once_flag decoyMade_;
  mutable std::string decoy_;
};

// Recent verdicts by credential digest. Valid and invalid verdicts are kept apart so that a
// flood of wrong passwords cannot push out the scraper's. Lookups compare every entry in
// constant time. Not thread-safe: the event loop owns it.
class AuthCache {
 public:
  enum class Known { Valid, Invalid, Unknown };
  explicit AuthCache(size_t validEntries = 16, size_t invalidEntries = 256);
  Known lookup(const Digest& key) const;
  void remember(const Digest& key, bool valid);
  void clear();

 private:
  struct Ring {
    std::vector<Digest> keys;
    size_t capacity = 0, next = 0;
    bool contains(const Digest& key) const;
    void add(const Digest& key);
  };
  Ring valid_, invalid_;
};

}  // namespace vhost
