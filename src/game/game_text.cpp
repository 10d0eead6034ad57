#include "game/game_text.h"

#include <utility>

#include "common/direction_controls.h"

namespace palisard {
namespace {

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// How many bytes the UTF-8 character starting with `lead` has; 1 for a byte
// that starts none.
std::size_t CharacterLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::string CleanGameText(std::string text) {
  for (char digit = '0'; digit <= '9'; ++digit) {
    std::size_t i = 0;
    while (i + 1 < text.size()) {
      if (text[i] == '^' && text[i + 1] == digit) {
        text.erase(i, 2);  // resume at the same place, not before it
      } else {
        ++i;
      }
    }
  }
  // Last: removing a colour code can bring a control's bytes together.
  return WithoutDirectionControls(std::move(text));
}

std::string CutGameText(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  // Back to the lead byte of the character the limit falls in, if any.
  std::size_t lead = maxBytes;
  while (lead > 0 && maxBytes - lead < 3 && IsContinuationByte(static_cast<unsigned char>(text[lead]))) --lead;
  const bool splitsCharacter =
      lead < maxBytes && lead + CharacterLength(static_cast<unsigned char>(text[lead])) > maxBytes;
  return text.substr(0, splitsCharacter ? lead : maxBytes);
}

}  // namespace palisard
