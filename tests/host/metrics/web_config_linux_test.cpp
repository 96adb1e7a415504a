// The web configuration file and basic authentication: keys known and refused, values
// interpreted, credentials parsed, bcrypt verdicts and their cache.
#include <gtest/gtest.h>

#include "metrics/basic_auth.h"
#include "metrics/web_config.h"

namespace vhost {
namespace {

// htpasswd -nbBC 4 scraper s3cret (cost 4 keeps the test fast)
constexpr char kHash[] = "$2y$04$NaCNn27qt/L4wStySEBaV.cTWaN0d9g6DAZJZgRYN.6yc6MP85ouC";

bool parse(const std::string& yaml, WebConfig& out, std::string& error) {
  WebConfigEntries entries;
  return readWebConfigEntries(yaml, entries, error) && interpretWebConfig(entries, "/etc/statrix", out, error);
}

TEST(WebConfig, AFullFileIsReadWithPathsBesideIt) {
  WebConfig c;
  std::string error;
  ASSERT_TRUE(parse(std::string("tls_server_config:\n  cert_file: server.pem\n  key_file: /keys/server.key\n"
                                "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.pem\n"
                                "  min_version: TLS13\nbasic_auth_users:\n  scraper: ") +
                        kHash + "\nhttp_server_config:\n  headers:\n    X-Frame-Options: deny\n",
                    c, error))
      << error;
  ASSERT_TRUE(c.tls);
  EXPECT_EQ(c.tls->certFile, "/etc/statrix/server.pem");
  EXPECT_EQ(c.tls->keyFile, "/keys/server.key");
  EXPECT_EQ(c.tls->clientCaFile, "/etc/statrix/ca.pem");
  EXPECT_EQ(c.tls->clientAuth, ClientAuth::RequireAndVerifyClientCert);
  EXPECT_EQ(c.tls->minVersion, 13);
  ASSERT_EQ(c.users.size(), 1u);
  EXPECT_EQ(c.users[0].name, "scraper");
  ASSERT_EQ(c.headers.size(), 1u);
  EXPECT_EQ(c.headers[0].first, "X-Frame-Options");

  ASSERT_TRUE(parse("", c, error)) << error;  // an empty file: plain HTTP, no users
  EXPECT_FALSE(c.tls);
  EXPECT_TRUE(c.users.empty());
}

TEST(WebConfig, RefusedFilesNameTheKeyOrValue) {
  const std::string tls = "tls_server_config:\n  cert_file: s.pem\n  key_file: s.key\n";
  const std::pair<std::string, std::string> cases[] = {
      {"tls_config:\n  cert_file: x\n", "unknown key tls_config"},
      {tls + "  cert_fle: x\n", "unknown key tls_server_config.cert_fle"},
      {tls + "  cipher_suites: [TLS_AES_128_GCM_SHA256]\n", "tls_server_config.cipher_suites is not supported"},
      {"http_server_config:\n  http2: false\n", "http_server_config.http2 is not supported"},
      {"http_server_config:\n  header:\n    A: b\n", "unknown key http_server_config.header"},
      {"tls_server_config:\n  cert_file: s.pem\n", "key_file is missing"},
      {tls + "  client_auth_type: RequireCert\n", "\"RequireCert\" is no client auth type"},
      {tls + "  client_auth_type: VerifyClientCertIfGiven\n", "client_ca_file is missing"},
      {tls + "  client_ca_file: ca.pem\n", "client_auth_type is NoClientCert"},
      {tls + "  min_version: TLS11\n", "TLS11 is not served"},
      {tls + "  min_version: TLS13\n  max_version: TLS12\n", "max_version is below min_version"},
      {"basic_auth_users:\n  scraper: plaintext\n", "basic_auth_users.scraper: not a bcrypt hash"},
      {"basic_auth_users:\n  \"a:b\": x\n", "\"a:b\" is no user name"},
      {"http_server_config:\n  headers:\n    content-type: text/html\n", "content-type is set by the endpoint"},
      {"http_server_config:\n  headers:\n    WWW-Authenticate: x\n", "WWW-Authenticate is set by the endpoint"},
      {"http_server_config:\n  headers:\n    \"X-A\": \"b\\r\\nSet-Cookie: c\"\n", "no valid header"},
      {"tls_server_config: [1, 2]\n", "tls_server_config: a mapping is expected"},
      {"basic_auth_users:\n  u: [1]\n", "basic_auth_users.u: a single value"},
      {"a: [unclosed\n", "not valid YAML"},
  };
  for (const auto& [yaml, expected] : cases) {
    WebConfig c;
    std::string error;
    EXPECT_FALSE(parse(yaml, c, error)) << yaml;
    EXPECT_NE(error.find(expected), std::string::npos) << yaml << " -> " << error;
  }
}

TEST(BasicAuth, CredentialsFromTheAuthorizationField) {
  const std::tuple<std::string, bool, std::string, std::string> cases[] = {
      {"Basic c2NyYXBlcjpzM2NyZXQ=", true, "scraper", "s3cret"},
      {"basic  c2NyYXBlcjpzM2NyZXQ=", true, "scraper", "s3cret"},
      {"Basic OmE6Yg==", true, "", "a:b"},  // ":a:b": the first colon splits
      {"Basic c2NyYXBlcg==", false, "", ""},  // no colon
      {"Basic c2NyYXBlcjpzM2NyZXQ", false, "", ""},  // bad length
      {"Basic c2NyYXBl*jpzM2NyZXQ=", false, "", ""},
      {"Bearer c2NyYXBlcjpzM2NyZXQ=", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& [field, ok, user, password] : cases) {
    Credentials c;
    EXPECT_EQ(parseBasicCredentials(field, c), ok) << field;
    if (!ok) continue;
    EXPECT_EQ(c.user, user) << field;
    EXPECT_EQ(c.password, password) << field;
    EXPECT_EQ(c.key, sha256(user + ":" + password)) << field;
  }
}

TEST(BasicAuth, BcryptVerdictsForRightWrongAndUnknown) {
  UserTable table({{"scraper", kHash}, {"other", kHash}});
  auto verify = [&](const std::string& user, const std::string& password) {
    Credentials c{user, password, sha256(user + ":" + password)};
    return table.verify(c);
  };
  EXPECT_TRUE(verify("scraper", "s3cret"));
  EXPECT_TRUE(verify("other", "s3cret"));
  EXPECT_FALSE(verify("scraper", "s3cret "));
  EXPECT_FALSE(verify("scraper", ""));
  EXPECT_FALSE(verify("nobody", "s3cret"));  // checked against a decoy hash, never a real one
  EXPECT_FALSE(verify("Scraper", "s3cret"));
  EXPECT_FALSE(UserTable({}).verify({"scraper", "s3cret", {}}));
}

TEST(BasicAuth, AFloodOfWrongPasswordsKeepsTheValidVerdict) {
  AuthCache cache(2, 8);
  const Digest good = sha256("scraper:s3cret");
  EXPECT_EQ(cache.lookup(good), AuthCache::Known::Unknown);
  cache.remember(good, true);
  for (int i = 0; i < 100; ++i) cache.remember(sha256("scraper:guess" + std::to_string(i)), false);
  EXPECT_EQ(cache.lookup(good), AuthCache::Known::Valid);
  EXPECT_EQ(cache.lookup(sha256("scraper:guess99")), AuthCache::Known::Invalid);
  EXPECT_EQ(cache.lookup(sha256("scraper:guess0")), AuthCache::Known::Unknown);  // pushed out
  cache.clear();
  EXPECT_EQ(cache.lookup(good), AuthCache::Known::Unknown);
}

}  // namespace
}  // namespace vhost
