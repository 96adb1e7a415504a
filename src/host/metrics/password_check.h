// The system's password hashing for basic authentication (linux: libcrypt and OpenSSL; the
// Windows build has neither and never gets a user table).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vhost {

using Digest = std::array<uint8_t, 32>;

// SHA-256 of `text`.
Digest sha256(std::string_view text);

// Whether `password` hashes to `hash` (bcrypt through crypt_rn); false on any failure.
bool bcryptMatches(const std::string& password, const std::string& hash);

// A bcrypt hash of a random password with the same cost as `like`: checked for unknown users
// so that they cost as much as a wrong password. Empty when none can be made.
std::string bcryptDecoyHash(const std::string& like);

}  // namespace vhost
