#include "game/game_text.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(CleanGameTextTest, RemovesColourCodesAndEscapesOnRequest) {
  struct Case {
    const char* in;
    bool escape;
    const char* out;
  };
  const Case cases[] = {
      {"^1Red^7White", false, "RedWhite"},
      {"a<^3b>c", false, "a<b>c"},
      {"a<^3b>c", true, "a&lt;b&gt;c"},
      {"^^11", false, "^1"},  // codes brought together by a removal stay
      {"^a^", false, "^a^"},  // not a code
      {"^9^0^5", false, ""},
      {"&amp; \"q\"", true, "&amp;amp; &quot;q&quot;"},  // an attribute value cannot be left either
      {"&amp; \"q\"", false, "&amp; \"q\""},
      {"<<>>", true, "&lt;&lt;&gt;&gt;"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    CleanGameText(text, c.escape);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

}  // namespace
}  // namespace palisard
