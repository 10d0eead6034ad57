#include "common/utf8.h"

#include <algorithm>

namespace palisard {

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  if (first < 0x80) return 1;
  const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
  if (length == 0 || first > 0xF4 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  const unsigned char second = byte(at + 1);
  if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second > 0x9F) || (first == 0xF0 && second < 0x90) ||
      (first == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

char32_t Utf8CodePoint(std::string_view text, std::size_t at, std::size_t length) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t point = static_cast<unsigned char>(text[at]) & kLeadBits[length];
  for (std::size_t i = 1; i < length; ++i) point = (point << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  return point;
}

std::string Utf8Prefix(std::string_view text, std::size_t characters) {
  std::size_t at = 0;
  for (; at < text.size() && characters > 0; --characters) at += std::max<std::size_t>(1, Utf8SequenceLength(text, at));
  return std::string(text.substr(0, std::min(at, text.size())));
}

std::string ValidUtf8(std::string_view text) {
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      valid += "\xEF\xBF\xBD";
      ++at;
    } else {
      valid.append(text.substr(at, length));
      at += length;
    }
  }
  return valid;
}

}  // namespace palisard
