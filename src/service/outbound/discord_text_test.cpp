#include "service/outbound/discord_text.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(DiscordTextTest, ShowsWhatPeopleWroteAsPlainText) {
  const struct {
    const char* text;
    const char* plain;
  } cases[] = {
      {"@everyone <script>", "\\@everyone \\<script\\>"},
      {"**b** _i_ ~~s~~ ||x|| `c`", "\\*\\*b\\*\\* \\_i\\_ \\~\\~s\\~\\~ \\|\\|x\\|\\| \\`c\\`"},
      {"[site](https://x.example)", "\\[site\\]\\(https\\://x.example\\)"},
      {"> quote\n# head\n- item", "\\> quote\n\\# head\n\\- item"},
      {"a\\b", "a\\\\b"},
      {"left \xE2\x80\xAEright", "left right"},  // a right-to-left override
      {"\xFF", "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlainDiscordText(c.text), c.plain) << c.text;
}

TEST(DiscordTextTest, CutsToALimitOnCharacterBoundaries) {
  const std::string e = "\xC3\xA9", smile = "\xF0\x9F\x98\x80", ellipsis = "\xE2\x80\xA6";
  const struct {
    std::string text;
    std::size_t limit;
    std::string cut;
  } cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "ab" + ellipsis},
      {e + e + e + e, 3, e + e + ellipsis},
      {"a" + smile + "b", 4, "a" + smile + "b"},  // two characters to Discord
      {"a" + smile + "bc", 3, "a" + ellipsis},
      {"ab\\*cd", 4, "ab" + ellipsis},  // never half an escape
      {"a\\\\bcd", 4, "a\\\\" + ellipsis},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutDiscordText(c.text, c.limit), c.cut) << c.text << " " << c.limit;
    EXPECT_LE(DiscordLength(CutDiscordText(c.text, c.limit)), c.limit) << c.text;
  }
}

}  // namespace
}  // namespace palisard
