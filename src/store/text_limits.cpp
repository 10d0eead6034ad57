#include "store/text_limits.h"

#include <string_view>

#include "common/utf8.h"

namespace palisard {
namespace {

constexpr TextLimit kLimits[] = {
    {"the reason", 500, false},
    {"the appeal", 2000, true},
    {"the account name", 32, false},
    {"the webhook's URL", 2000, false},
};

bool IsControl(char32_t point, bool lines) {
  if (point == '\t' || (lines && (point == '\n' || point == '\r'))) return false;
  return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

// What shows nothing on a page: blanks, the invisible and the directional
// formatting characters. A text of only these says nothing.
bool IsBlank(char32_t point) {
  return point == ' ' || point == '\t' || point == '\n' || point == '\r' || point == 0xA0 || point == 0xAD ||
         point == 0x034F || point == 0x061C || point == 0x115F || point == 0x1160 || point == 0x1680 ||
         point == 0x180E || (point >= 0x2000 && point <= 0x200F) || (point >= 0x2028 && point <= 0x202F) ||
         (point >= 0x205F && point <= 0x206F) || point == 0x3000 || point == 0x3164 || point == 0xFEFF ||
         point == 0xFFA0;
}

}  // namespace

const TextLimit& LimitOf(TextField field) { return kLimits[static_cast<std::size_t>(field)]; }

Result CheckText(TextField field, const std::string& text) {
  const TextLimit& limit = LimitOf(field);
  const auto invalid = [&](const std::string& why) {
    return Result::Invalid(std::string(limit.what) + " " + why);
  };
  std::size_t characters = 0;
  bool visible = false;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return invalid("is not UTF-8 text");
    const char32_t point = Utf8CodePoint(text, at, length);
    if (IsControl(point, limit.lines)) return invalid("holds a control character");
    visible = visible || !IsBlank(point);
    ++characters;
    at += length;
  }
  if (!visible) return invalid("is empty");
  if (characters > limit.longest) {
    return invalid("is longer than " + std::to_string(limit.longest) + " characters");
  }
  return Result::Ok();
}

}  // namespace palisard
