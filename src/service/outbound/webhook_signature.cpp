#include "service/outbound/webhook_signature.h"

#include <sodium.h>

#include "common/secure_random.h"
#include "service/values/base64_text.h"

namespace palisard {
namespace {

constexpr std::string_view kSecretPrefix = "whsec_";
constexpr std::size_t kNewKeyBytes = 32;
// The standard's bounds on a key: 192 to 512 bits.
constexpr std::size_t kShortestKey = 24;
constexpr std::size_t kLongestKey = 64;

// HMAC-SHA256 picks no implementation at run time, so it needs no
// sodium_init.
const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

Result NewWebhookSecret(std::string* secret) {
  unsigned char key[kNewKeyBytes];
  if (!SecureRandomBytes(key, sizeof key)) {
    return Result::Failure(Result::Kind::kFailed, 0, "the system gave no random bytes");
  }
  *secret = std::string(kSecretPrefix) + Base64Text(std::string_view(reinterpret_cast<const char*>(key), sizeof key));
  return Result::Ok();
}

Result ParseWebhookSecret(std::string_view secret, std::string* key) {
  std::string decoded;
  const std::string_view encoded = secret.substr(std::min(secret.size(), kSecretPrefix.size()));
  const bool read =
      secret.starts_with(kSecretPrefix) && (DecodeBase64(encoded, false, &decoded) || DecodeBase64(encoded, true, &decoded));
  if (!read || decoded.size() < kShortestKey || decoded.size() > kLongestKey) {
    return Result::Failure(Result::Kind::kInvalid, 0, "a webhook secret is whsec_ and the base64 of 24 to 64 bytes");
  }
  *key = std::move(decoded);
  return Result::Ok();
}

std::string WebhookSignature(std::string_view key, std::string_view id, int64_t timestamp, std::string_view body) {
  const std::string head = std::string(id) + "." + std::to_string(timestamp) + ".";
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, Bytes(key), key.size());
  crypto_auth_hmacsha256_update(&state, Bytes(head), head.size());
  crypto_auth_hmacsha256_update(&state, Bytes(body), body.size());
  unsigned char mac[crypto_auth_hmacsha256_BYTES];
  crypto_auth_hmacsha256_final(&state, mac);
  return "v1," + Base64Text(std::string_view(reinterpret_cast<const char*>(mac), sizeof mac));
}

HeaderList SignedWebhookHeaders(std::string_view key, std::string_view id, int64_t timestamp, std::string_view body) {
  return {{"Content-Type", "application/json"},
          {"webhook-id", std::string(id)},
          {"webhook-timestamp", std::to_string(timestamp)},
          {"webhook-signature", WebhookSignature(key, id, timestamp, body)}};
}

}  // namespace palisard
