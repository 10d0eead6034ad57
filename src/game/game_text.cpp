#include "game/game_text.h"

namespace palisard {
namespace {

void ReplaceAll(std::string& text, char from, const char* to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, 1, to);
    at += std::char_traits<char>::length(to);
  }
}

}  // namespace

void CleanGameText(std::string& text, bool htmlEscape) {
  if (htmlEscape) {
    ReplaceAll(text, '&', "&amp;");  // first: the entities below hold one
    ReplaceAll(text, '"', "&quot;");
    ReplaceAll(text, '<', "&lt;");
    ReplaceAll(text, '>', "&gt;");
  }
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
}

}  // namespace palisard
