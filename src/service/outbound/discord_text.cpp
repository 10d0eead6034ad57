#include "service/outbound/discord_text.h"

#include <algorithm>

#include "common/direction_controls.h"
#include "common/utf8.h"

namespace palisard {
namespace {

// What Discord's markdown reads as markup somewhere in a text.
constexpr std::string_view kMarkup = "\\*_~`|><#-[]()@:";
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

std::size_t Utf16Units(std::string_view text, std::size_t at, std::size_t* bytes) {
  *bytes = std::max<std::size_t>(1, Utf8SequenceLength(text, at));
  return *bytes == 4 ? 2 : 1;
}

}  // namespace

std::string PlainDiscordText(std::string_view text) {
  const std::string clean = WithoutDirectionControls(ValidUtf8(text));
  std::string plain;
  plain.reserve(clean.size() + clean.size() / 4);
  for (const char c : clean) {
    if (kMarkup.find(c) != std::string_view::npos) plain += '\\';
    plain += c;
  }
  return plain;
}

std::size_t DiscordLength(std::string_view text) {
  std::size_t length = 0;
  for (std::size_t at = 0, bytes = 0; at < text.size(); at += bytes) length += Utf16Units(text, at, &bytes);
  return length;
}

std::string CutDiscordText(std::string_view text, std::size_t limit) {
  if (DiscordLength(text) <= limit) return std::string(text);
  if (limit == 0) return {};
  std::size_t end = 0;
  for (std::size_t used = 0, bytes = 0; end < text.size(); end += bytes) {
    const std::size_t units = Utf16Units(text, end, &bytes);
    if (used + units > limit - 1) break;  // room for the ellipsis
    used += units;
  }
  std::string cut(text.substr(0, end));
  const std::size_t backslashes = cut.size() - (cut.find_last_not_of('\\') + 1);
  if (backslashes % 2 == 1) cut.pop_back();
  return cut + std::string(kEllipsis);
}

}  // namespace palisard
