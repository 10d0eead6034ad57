#include "common/community_id.h"

#include <charconv>

namespace palisard {

std::optional<uint64_t> ReadCommunityId(std::string_view digits) {
  // from_chars alone would take a sign's absence for granted but stop at
  // the first non-digit: "12abc" is no id.
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  uint64_t id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return id;
}

}  // namespace palisard
