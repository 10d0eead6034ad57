#include "service/outbound/webhook_signature.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(WebhookSignatureTest, SignsAsTheStandardsOwnExample) {
  std::string key;
  ASSERT_TRUE(ParseWebhookSecret("whsec_MfKQ9r8GKYqrTwjUPD8ILPZIo2LaLaSw", &key).ok());
  EXPECT_EQ(WebhookSignature(key, "msg_p5jXN8AQM9LWM0D4loKWxJek", 1614265330, R"({"test": 2432232314})"),
            "v1,g0hM9SsE+OTPJTGt/tmIKtSyZlE3uFJELVlNIOLJ1OE=");
}

TEST(WebhookSignatureTest, MakesAndReadsSecrets) {
  std::string secret, key;
  ASSERT_TRUE(NewWebhookSecret(&secret).ok());
  EXPECT_EQ(secret.rfind("whsec_", 0), 0u);
  ASSERT_TRUE(ParseWebhookSecret(secret, &key).ok()) << secret;
  EXPECT_EQ(key.size(), 32u);

  const struct {
    std::string secret;
    bool ok;
  } cases[] = {
      {"whsec_" + std::string(43, 'A'), true},            // 32 bytes, unpadded
      {"whsec_" + std::string(22, 'A') + "==", false},    // 16 bytes: too short
      {"whsec_" + std::string(87, 'A') + "=", false},     // 65 bytes: too long
      {std::string(32, 'A'), false},                      // no prefix
      {"whsec_MfKQ9r8GKYqrTwjUPD8ILPZIo2LaLaS!", false},  // not base64
  };
  for (const auto& c : cases) EXPECT_EQ(ParseWebhookSecret(c.secret, &key).ok(), c.ok) << c.secret;
}

}  // namespace
}  // namespace palisard
