// Basic authentication: credentials, constant-time matching, the verdict cache.
#include "metrics/basic_auth.h"

#include <cstdint>

namespace vhost {

namespace {

// Equal in time independent of where the digests differ.
bool sameDigest(const Digest& a, const Digest& b) {
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base-64 with padding; false on any other character or a bad length.
bool decodeBase64(std::string_view in, std::string& out) {
  if (in.size() % 4 != 0) return false;
  out.clear();
  for (size_t i = 0; i < in.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int j = 0; j < 4; ++j) {
      char c = in[i + static_cast<size_t>(j)];
      if (c == '=' && i + 4 == in.size() && j >= 2) {
        v[j] = 0;
        ++pad;
      } else if (pad > 0 || (v[j] = base64Value(c)) < 0) {
        return false;
      }
    }
    uint32_t n = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    out.push_back(static_cast<char>(n >> 16));
    if (pad < 2) out.push_back(static_cast<char>(n >> 8 & 0xff));
    if (pad < 1) out.push_back(static_cast<char>(n & 0xff));
  }
  return true;
}

}  // namespace

bool parseBasicCredentials(std::string_view field, Credentials& out) {
  size_t space = field.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view scheme = field.substr(0, space);
  if (scheme.size() != 5 || (scheme[0] | 0x20) != 'b' || (scheme[1] | 0x20) != 'a' || (scheme[2] | 0x20) != 's' ||
      (scheme[3] | 0x20) != 'i' || (scheme[4] | 0x20) != 'c')
    return false;
  std::string_view encoded = field.substr(space + 1);
  while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
  std::string decoded;
  if (!decodeBase64(encoded, decoded)) return false;
  size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  out.user = decoded.substr(0, colon);
  out.password = decoded.substr(colon + 1);
  out.key = sha256(decoded);
  return true;
}

UserTable::UserTable(std::vector<BasicAuthUser> users) : users_(std::move(users)) {
  for (const BasicAuthUser& u : users_) nameDigests_.push_back(sha256(u.name));
}

bool UserTable::verify(const Credentials& credentials) const {
  if (users_.empty()) return false;
  const Digest name = sha256(credentials.user);
  const BasicAuthUser* found = nullptr;
  for (size_t i = 0; i < users_.size(); ++i)
    if (sameDigest(nameDigests_[i], name) && found == nullptr) found = &users_[i];
  if (found != nullptr) return bcryptMatches(credentials.password, found->hash);
  std::call_once(decoyMade_, [&] { decoy_ = bcryptDecoyHash(users_.front().hash); });
  (void)bcryptMatches(credentials.password, decoy_.empty() ? users_.front().hash : decoy_);
  return false;
}

AuthCache::AuthCache(size_t validEntries, size_t invalidEntries) {
  valid_.capacity = validEntries;
  invalid_.capacity = invalidEntries;
}

bool AuthCache::Ring::contains(const Digest& key) const {
  bool hit = false;
  for (const Digest& k : keys) hit |= sameDigest(k, key);
  return hit;
}

void AuthCache::Ring::add(const Digest& key) {
  if (capacity == 0 || contains(key)) return;
  if (keys.size() < capacity) {
    keys.push_back(key);
  } else {
    keys[next] = key;
    next = (next + 1) % capacity;
  }
}

AuthCache::Known AuthCache::lookup(const Digest& key) const {
  const bool valid = valid_.contains(key);
  const bool invalid = invalid_.contains(key);
  return valid ? Known::Valid : invalid ? Known::Invalid : Known::Unknown;
}

void AuthCache::remember(const Digest& key, bool valid) { (valid ? valid_ : invalid_).add(key); }

void AuthCache::clear() {
  valid_.keys.clear();
  valid_.next = 0;
  invalid_.keys.clear();
  invalid_.next = 0;
}

}  // namespace vhost
