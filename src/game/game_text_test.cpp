#include "game/game_text.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(CleanGameTextTest, RemovesColourCodesAndDirectionControlsAndNothingElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"^1Red^7White", "RedWhite"},
      {"a<^3b>c", "a<b>c"},
      {"^^11", "^1"},  // codes brought together by a removal stay
      {"^a^", "^a^"},  // not a code
      {"^9^0^5", ""},
      {"&amp; \"q\"", "&amp; \"q\""},
      {"a\xE2\x80^2\xAE.", "a."},  // a U+202E that a code's removal brings together
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CleanGameText(in), out) << in;
}

TEST(CutGameTextTest, NeverCutsInsideACharacter) {
  struct Case {
    const char* in;
    std::size_t max;
    const char* out;
  };
  const Case cases[] = {
      {"abc", 3, "abc"},
      {"abc", 2, "ab"},
      {"a\xC3\xA9", 2, "a"},  // é
      {"a\xC3\xA9", 3, "a\xC3\xA9"},
      {"\xE2\x82\xAC!", 2, ""},  // €
      {"\xF0\x9F\x8E\xAE!", 3, ""},
      {"\xF0\x9F\x8E\xAE!", 4, "\xF0\x9F\x8E\xAE"},
      {"caf\xE9s", 4, "caf\xE9"},  // Latin-1, not UTF-8: cut at the limit
      {"x\xA9\xA9\xA9\xA9", 3, "x\xA9\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(CutGameText(c.in, c.max), c.out) << c.in << " at " << c.max;
}

}  // namespace
}  // namespace palisard
