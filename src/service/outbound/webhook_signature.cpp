#include "service/outbound/webhook_signature.h"

#include <sodium.h>

#include "common/secure_random.h"

namespace palisard {
namespace {

constexpr std::string_view kSecretPrefix = "whsec_";
constexpr std::size_t kNewKeyBytes = 32;
// The standard's bounds on a key: 192 to 512 bits.
constexpr std::size_t kShortestKey = 24;
constexpr std::size_t kLongestKey = 64;

// HMAC-SHA256 and base64 pick no implementation at run time, so they need
// no sodium_init.
const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::string Base64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();  // the terminating zero
  return text;
}

bool DecodeBase64(std::string_view text, int variant, std::string* bytes) {
  unsigned char decoded[kLongestKey + 1];
  std::size_t size = 0;
  if (sodium_base642bin(decoded, sizeof decoded, text.data(), text.size(), nullptr, &size, nullptr, variant) != 0) {
    return false;
  }
  bytes->assign(reinterpret_cast<const char*>(decoded), size);
  return true;
}

}  // namespace

Result NewWebhookSecret(std::string* secret) {
  unsigned char key[kNewKeyBytes];
  if (!SecureRandomBytes(key, sizeof key)) {
    return Result::Failure(Result::Kind::kFailed, 0, "the system gave no random bytes");
  }
  *secret = std::string(kSecretPrefix) + Base64(key, sizeof key);
  return Result::Ok();
}

Result ParseWebhookSecret(std::string_view secret, std::string* key) {
  std::string decoded;
  const std::string_view encoded = secret.substr(std::min(secret.size(), kSecretPrefix.size()));
  const bool read =
      secret.starts_with(kSecretPrefix) && (DecodeBase64(encoded, sodium_base64_VARIANT_ORIGINAL, &decoded) ||
                                            DecodeBase64(encoded, sodium_base64_VARIANT_ORIGINAL_NO_PADDING, &decoded));
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
  return "v1," + Base64(mac, sizeof mac);
}

HeaderList SignedWebhookHeaders(std::string_view key, std::string_view id, int64_t timestamp, std::string_view body) {
  return {{"Content-Type", "application/json"},
          {"webhook-id", std::string(id)},
          {"webhook-timestamp", std::to_string(timestamp)},
          {"webhook-signature", WebhookSignature(key, id, timestamp, body)}};
}

}  // namespace palisard
