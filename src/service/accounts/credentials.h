#pragma once

#include <cstddef>
#include <string>

#include "common/result.h"

namespace palisard {

// The secrets of the moderation pages: passwords, session tokens and the
// token a form carries against cross-site requests. libsodium throughout.

// How hard a password hash is to compute. Tests that make many hashes under
// the sanitizers ask for kTestOnly through an option that says so; such a
// hash is cheap to guess and is never the default.
enum class HashCost { kInteractive, kTestOnly };

// An account name: letters, digits, '.', '_' or '-', at most the account
// name's text limit.
Result CheckModeratorName(const std::string& name);
// An API token's name: the same rule.
Result CheckTokenName(const std::string& name);
// A password: kShortestPassword to kLongestPassword bytes.
inline constexpr std::size_t kShortestPassword = 10;
inline constexpr std::size_t kLongestPassword = 1024;
Result CheckPassword(const std::string& password);

// Argon2id in libsodium's string form, which carries its own salt and
// limits (crypto_pwhash's interactive ones by default).
Result HashPassword(const std::string& password, HashCost cost, std::string* hash);
// Whether `password` matches `hash`, in `matches`; a failure only when the
// check cannot be made (libsodium cannot start). With an empty hash (no
// such account) it checks against a hash of its own first, so the time
// taken does not tell which names have accounts. At most kConcurrentHashes
// hashes are computed in the process at once (each takes tens of MiB); more
// callers wait their turn. Thread-safe.
Result VerifyPassword(const std::string& password, const std::string& hash, bool* matches);
inline constexpr int kConcurrentHashes = 2;

// Session, form and API tokens are 256 bits, written in kTokenLength hex
// digits.
inline constexpr std::size_t kTokenLength = 64;
// A new session or API token: random; a failure when the system's
// generator cannot be used.
Result NewSessionToken(std::string* token);
// What the database keeps of a session's or an API token (BLAKE2b, in
// hex): it finds the session or the token but cannot be used as one.
std::string SessionTokenHash(const std::string& token);
// The form token of the session whose token this is: derived, so every
// instance computes it without storing it, and useless without the cookie.
std::string FormToken(const std::string& sessionToken);
// Compares two secrets in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace palisard
