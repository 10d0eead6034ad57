#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace palisard {

// A community id as the service reads one from outside (a request, a form,
// a file): decimal digits only, no sign and no blanks, fitting 64 bits;
// nothing otherwise. "0" reads as 0, which names no player: callers that
// need a player refuse it.
std::optional<uint64_t> ReadCommunityId(std::string_view digits);
// The most digits one has: 18446744073709551615.
inline constexpr std::size_t kCommunityIdDigits = 20;

}  // namespace palisard
