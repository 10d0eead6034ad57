#include "service/values/record_values.h"

#include <charconv>
#include <limits>

#include "common/community_id.h"

namespace palisard {
namespace {

constexpr int64_t kLongestBan = int64_t{100} * 366 * 24 * 3600;

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Digits only, no sign, no blanks: from_chars alone would take "12abc".
template <typename Integer>
bool ParseDecimal(const std::string& text, Integer* value) {
  if (!AllDigits(text)) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

Result ParseCommunityId(const std::string& text, uint64_t* id) {
  const std::optional<uint64_t> read = ReadCommunityId(text);
  if (!read || *read == 0) {
    return Result::Invalid("'" + text + "' is not a community id (a decimal number from 1 to 18446744073709551615)");
  }
  *id = *read;
  return Result::Ok();
}

Result ParseCaseId(const std::string& text, int64_t* id) {
  if (!ParseDecimal(text, id) || *id == 0) return Result::Invalid("'" + text + "' is not a case number");
  return Result::Ok();
}

Result ParseWebhookId(const std::string& text, int64_t* id) {
  if (!ParseDecimal(text, id) || *id == 0) return Result::Invalid("'" + text + "' is not a webhook number");
  return Result::Ok();
}

Result ParseBanDuration(const std::string& text, std::optional<int64_t>* seconds) {
  if (text == "permanent") {
    seconds->reset();
    return Result::Ok();
  }
  const Result bad = Result::Invalid("'" + text + "' is not a duration (30m, 12h, 7d, 2w or permanent)");
  if (text.size() < 2) return bad;
  int64_t unit = 0;
  switch (text.back()) {
    case 'm':
      unit = 60;
      break;
    case 'h':
      unit = 3600;
      break;
    case 'd':
      unit = 24 * 3600;
      break;
    case 'w':
      unit = 7 * 24 * 3600;
      break;
    default:
      return bad;
  }
  int64_t count = 0;
  if (!ParseDecimal(text.substr(0, text.size() - 1), &count) || count == 0) return bad;
  if (count > kLongestBan / unit) return Result::Invalid("'" + text + "' is longer than 100 years: use permanent");
  *seconds = count * unit;
  return Result::Ok();
}

}  // namespace palisard
