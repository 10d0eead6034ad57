#include "service/accounts/credentials.h"

#include <sodium.h>

#include <semaphore>

#include "store/text_limits.h"

namespace palisard {
namespace {

// sodium_init is safe to call from several threads and more than once.
bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::counting_semaphore<kConcurrentHashes>& HashSlots() {
  static std::counting_semaphore<kConcurrentHashes> slots(kConcurrentHashes);
  return slots;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

// BLAKE2b of `text`, keyed with `key` (at least 16 bytes) or unkeyed: a
// form token is one.
static_assert(crypto_generichash_BYTES * 2 == kTokenLength);
std::string Blake2b(const std::string& text, const std::string& key) {
  unsigned char digest[crypto_generichash_BYTES];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                     key.empty() ? nullptr : reinterpret_cast<const unsigned char*>(key.data()), key.size());
  return Hex(digest, sizeof digest);
}

// The hash a check without an account runs against: the cost of a real one.
// Its password needs no secrecy: a check against it never matches.
const std::string& StandInHash() {
  static const std::string hash = [] {
    std::string made;
    (void)HashPassword("no account has this password", HashCost::kInteractive, &made);
    return made;
  }();
  return hash;
}

Result SodiumCannotStart() { return Result::Failed("libsodium cannot start"); }

}  // namespace

namespace {

Result CheckName(const std::string& name, const char* what) {
  const std::size_t longest = LimitOf(TextField::kAccountName).longest;
  const bool fits =
      !name.empty() && name.size() <= longest &&
      name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") == std::string::npos;
  return fits ? Result::Ok()
              : Result::Invalid(std::string(what) + " is 1 to " + std::to_string(longest) +
                                " letters, digits, '.', '_' or '-'");
}

}  // namespace

Result CheckModeratorName(const std::string& name) { return CheckName(name, "an account name"); }

Result CheckTokenName(const std::string& name) { return CheckName(name, "a token name"); }

Result CheckPassword(const std::string& password) {
  if (password.size() < kShortestPassword) {
    return Result::Invalid("a password needs at least " + std::to_string(kShortestPassword) + " characters");
  }
  if (password.size() > kLongestPassword) {
    return Result::Invalid("a password is at most " + std::to_string(kLongestPassword) + " bytes");
  }
  return Result::Ok();
}

Result HashPassword(const std::string& password, HashCost cost, std::string* hash) {
  if (!SodiumReady()) return SodiumCannotStart();
  const bool cheap = cost == HashCost::kTestOnly;
  char text[crypto_pwhash_argon2id_STRBYTES];
  HashSlots().acquire();
  const int made = crypto_pwhash_argon2id_str(
      text, password.data(), password.size(),
      cheap ? crypto_pwhash_argon2id_OPSLIMIT_MIN : crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE,
      cheap ? crypto_pwhash_argon2id_MEMLIMIT_MIN : crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE);
  HashSlots().release();
  if (made != 0) return Result::Failed("out of memory while hashing the password");
  *hash = text;
  return Result::Ok();
}

Result VerifyPassword(const std::string& password, const std::string& hash, bool* matches) {
  if (!SodiumReady()) return SodiumCannotStart();
  const std::string& against = hash.empty() ? StandInHash() : hash;
  HashSlots().acquire();
  const bool right = crypto_pwhash_str_verify(against.c_str(), password.data(), password.size()) == 0;
  HashSlots().release();
  *matches = right && !hash.empty();
  return Result::Ok();
}

Result NewSessionToken(std::string* token) {
  if (!SodiumReady()) return SodiumCannotStart();
  unsigned char bytes[kTokenLength / 2];
  randombytes_buf(bytes, sizeof bytes);
  *token = Hex(bytes, sizeof bytes);
  return Result::Ok();
}

std::string SessionTokenHash(const std::string& token) { return Blake2b(token, ""); }

std::string FormToken(const std::string& sessionToken) { return Blake2b(sessionToken, "palisard-form-token-v1"); }

bool SameSecret(const std::string& a, const std::string& b) {
  return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace palisard
