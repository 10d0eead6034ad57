#include "common/direction_controls.h"

#include <cstddef>

namespace palisard {
namespace {

// The length of the UTF-8 direction control starting at `at`, or 0. Any
// position counts, not only a character's start: a decoder takes up a
// valid character after bytes that are not UTF-8.
std::size_t ControlAt(const std::string& text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const std::size_t left = text.size() - at;
  if (left >= 2 && byte(at) == 0xD8 && byte(at + 1) == 0x9C) return 2;  // U+061C
  if (left < 3 || byte(at) != 0xE2) return 0;
  const unsigned char second = byte(at + 1);
  const unsigned char third = byte(at + 2);
  if (second == 0x80 && ((third >= 0xAA && third <= 0xAE) || third == 0x8E || third == 0x8F)) return 3;
  if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return 3;
  return 0;
}

}  // namespace

std::string WithoutDirectionControls(std::string text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = ControlAt(text, at);
    if (length == 0) {
      ++at;
      continue;
    }
    text.erase(at, length);
    // The bytes before it may now begin a control with the bytes after it.
    at = at >= 2 ? at - 2 : 0;
  }
  return text;
}

}  // namespace palisard
