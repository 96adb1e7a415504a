// bcrypt through libcrypt's crypt_rn, SHA-256 through OpenSSL.
#include "metrics/password_check.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

namespace vhost {

Digest sha256(std::string_view text) {
  Digest out{};
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), out.data(), &size, EVP_sha256(), nullptr);
  return out;
}

bool bcryptMatches(const std::string& password, const std::string& hash) {
  // crypt_data is some 32 KiB: on the heap, not on a worker's stack.
  auto data = std::make_unique<crypt_data>();
  const char* result = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof(crypt_data));
  if (result == nullptr || result[0] == '*') return false;
  std::string_view got(result);
  return got.size() == hash.size() && CRYPTO_memcmp(got.data(), hash.data(), hash.size()) == 0;
}

std::string bcryptDecoyHash(const std::string& like) {
  unsigned long cost = 10;
  if (like.size() > 6 && like[4] >= '0' && like[4] <= '9' && like[5] >= '0' && like[5] <= '9')
    cost = static_cast<unsigned long>((like[4] - '0') * 10 + (like[5] - '0'));
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn("$2b$", cost, nullptr, 0, setting, sizeof setting) == nullptr) return {};
  auto data = std::make_unique<crypt_data>();
  const char* result = crypt_rn("decoy password of no user", setting, data.get(), sizeof(crypt_data));
  return result != nullptr && result[0] != '*' ? std::string(result) : std::string();
}

}  // namespace vhost
