#include "service/feed/feed_signature.h"

#include <sodium.h>

#include "service/values/base64_text.h"

namespace palisard {
namespace {

constexpr std::size_t kKeyIdBytes = 8;
constexpr std::string_view kKeyFileComment = "palisard-service feed secret key (minisign's Ed25519)";
static_assert(crypto_sign_SECRETKEYBYTES == 64 && crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_BYTES == 64);

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::string Sign(const FeedKey& key, std::string_view message) {
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr, Bytes(message), message.size(),
                       Bytes(key.secret));
  return signature;
}

}  // namespace

Result MakeFeedKey(FeedKey* key) {
  if (sodium_init() < 0) return Result::Failed("libsodium could not start");
  std::string pub(crypto_sign_PUBLICKEYBYTES, '\0');
  key->id.assign(kKeyIdBytes, '\0');
  key->secret.assign(crypto_sign_SECRETKEYBYTES, '\0');
  randombytes_buf(key->id.data(), key->id.size());
  crypto_sign_keypair(reinterpret_cast<unsigned char*>(pub.data()),
                      reinterpret_cast<unsigned char*>(key->secret.data()));
  return Result::Ok();
}

std::string FeedPublicKey(const FeedKey& key) {
  return Base64Text("Ed" + key.id + key.secret.substr(crypto_sign_SEEDBYTES));
}

std::string FeedKeyText(const FeedKey& key) {
  return std::string(kKeyFileComment) + "\n" + Base64Text(key.id + key.secret) + "\n";
}

Result ReadFeedKeyText(std::string_view text, FeedKey* key) {
  const std::size_t lineEnd = text.find('\n');
  std::string_view encoded = lineEnd == std::string_view::npos ? "" : text.substr(lineEnd + 1);
  if (!encoded.empty() && encoded.back() == '\n') encoded.remove_suffix(1);
  std::string bytes;
  if (text.substr(0, lineEnd) != kKeyFileComment || !DecodeBase64(encoded, false, &bytes) ||
      bytes.size() != kKeyIdBytes + crypto_sign_SECRETKEYBYTES) {
    return Result::Invalid("not a feed key written by palisard-service feed key");
  }
  key->id = bytes.substr(0, kKeyIdBytes);
  key->secret = bytes.substr(kKeyIdBytes);
  return Result::Ok();
}

std::string FeedPageTag(std::string_view page) {
  unsigned char hash[16];
  crypto_generichash(hash, sizeof hash, Bytes(page), page.size(), nullptr, 0);
  char hex[sizeof hash * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
  return "\"" + std::string(hex) + "\"";
}

std::string FeedSignature(const FeedKey& key, std::string_view page, const std::string& trustedComment) {
  std::string hash(crypto_generichash_BYTES_MAX, '\0');
  crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(), Bytes(page), page.size(), nullptr, 0);
  const std::string signature = Sign(key, hash);
  return "untrusted comment: signature from palisard-service feed key\n" + Base64Text("ED" + key.id + signature) +
         "\ntrusted comment: " + trustedComment + "\n" + Base64Text(Sign(key, signature + trustedComment)) + "\n";
}

}  // namespace palisard
