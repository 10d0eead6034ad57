#include "common/direction_controls.h"

#include <cstddef>

#include "common/utf8.h"

namespace palisard {
namespace {

// The length of the UTF-8 direction control starting at `at`, or 0. Any
// position counts, not only a character's start: a decoder takes up a
// valid character after bytes that are not UTF-8.
std::size_t ControlAt(const std::string& text, std::size_t at) {
  const std::size_t length = Utf8SequenceLength(text, at);
  return length > 1 && IsDirectionControl(Utf8CodePoint(text, at, length)) ? length : 0;
}

}  // namespace

bool IsDirectionControl(char32_t point) {
  return (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069) || point == 0x200E ||
         point == 0x200F || point == 0x061C;
}

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
