#include "service/http/form_fields.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(FormFieldsTest, DecodesAsBrowsersEncode) {
  const struct {
    const char* text;
    const char* field;
    const char* value;
  } cases[] = {
      {"reason=wall+hack%21&player=7", "reason", "wall hack!"},
      {"reason=wall+hack%21&player=7", "player", "7"},
      {"a=%3Cscript%3E", "a", "<script>"},
      {"a=100%&b=%4", "a", "100%"},  // a '%' without two hex digits stays
      {"a=100%&b=%4", "b", "%4"},
      {"a=1&a=2", "a", "1"},  // the first of a repeated field
      {"flag&x=%zz", "flag", ""},
      {"flag&x=%zz", "x", "%zz"},
      {"&&csrf=", "csrf", ""},
      {"a=%C3%A9%FF%ED%A0%80", "a",
       "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // é, a stray byte, a surrogate
      {"a=%C0%AF%E0%80%AF", "a", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong '/'
  };
  for (const auto& c : cases) EXPECT_EQ(Field(ParseFormFields(c.text), c.field), c.value) << c.text;
  EXPECT_EQ(QueryEncode("a b/<é>"), "a%20b%2F%3C%C3%A9%3E");
  EXPECT_EQ(ParseFormFields(QueryEncode("k") + "=" + QueryEncode("a&b=c")).at("k"), "a&b=c");
}

TEST(FormFieldsTest, CookieValueByItsWholeName) {
  const std::string header = "other_palisard_session=x; palisard_session=abc;theme=dark";
  EXPECT_EQ(CookieValue(header, "palisard_session"), "abc");
  EXPECT_EQ(CookieValue(header, "theme"), "dark");
  EXPECT_EQ(CookieValue(header, "session"), "");
  EXPECT_EQ(CookieValue("", "palisard_session"), "");
}

}  // namespace
}  // namespace palisard
