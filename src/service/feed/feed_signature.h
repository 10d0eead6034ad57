#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace palisard {

// The feed's signatures in minisign's format, so that anyone checks a page
// with `minisign -Vm PAGE -x PAGE.minisig -P KEY`: Ed25519 (libsodium)
// over the BLAKE2b-512 of the page ("ED", minisign's default), and the
// global signature over that signature and the trusted comment.

// A key pair: minisign's 8-byte key id and libsodium's 64-byte Ed25519
// secret key (its seed, then its public key). Held by the service only.
struct FeedKey {
  std::string id;      // 8 bytes
  std::string secret;  // 64 bytes
};

// A new key pair with a random id. kFailed when libsodium cannot start.
Result MakeFeedKey(FeedKey* key);
// The public key as minisign writes it: base64 of "Ed", the id and the
// 32-byte public key (the "RW..." line).
std::string FeedPublicKey(const FeedKey& key);

// The secret key file's text: a comment line, then the base64 of the id
// and the secret key (72 bytes).
std::string FeedKeyText(const FeedKey& key);
// kInvalid for a text that is not one FeedKeyText wrote.
Result ReadFeedKeyText(std::string_view text, FeedKey* key);

// A strong ETag of a page: a hash of its bytes, quoted.
std::string FeedPageTag(std::string_view page);

// The .minisig text of `page`, with `trustedComment` (one line) signed
// with it.
std::string FeedSignature(const FeedKey& key, std::string_view page, const std::string& trustedComment);

}  // namespace palisard
