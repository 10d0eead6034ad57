#include "service/values/record_values.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(CliValuesTest, CommunityIdsAreDecimalDigitsFromOneTo64Bits) {
  const struct {
    const char* text;
    uint64_t id;  // 0: refused
  } cases[] = {
      {"76561197960287930", 76561197960287930u},
      {"18446744073709551615", 18446744073709551615u},
      {"007", 7},
      {"18446744073709551616", 0},
      {"0", 0},
      {"", 0},
      {"-1", 0},
      {"+5", 0},
      {" 5", 0},
      {"5 ", 0},
      {"0x10", 0},
      {"12abc", 0},
  };
  for (const auto& c : cases) {
    uint64_t id = 0;
    const Result result = ParseCommunityId(c.text, &id);
    EXPECT_EQ(result.kind(), c.id != 0 ? Result::Kind::kOk : Result::Kind::kInvalid) << c.text;
    EXPECT_EQ(result.ok() ? id : 0, c.id) << c.text;
  }
}

TEST(CliValuesTest, DurationsHaveAUnitAndStayWithin100Years) {
  const struct {
    const char* text;
    bool ok;
    std::optional<int64_t> seconds;
  } cases[] = {
      {"30m", true, 1800},      {"12h", true, 43200},
      {"7d", true, 604800},     {"2w", true, 1209600},
      {"permanent", true, {}},  {"36600d", true, 3162240000},
      {"36601d", false, {}},    {"5228w", true, 3161894400},
      {"5229w", false, {}},     {"99999999999999999w", false, {}},
      {"0d", false, {}},        {"7", false, {}},
      {"d", false, {}},         {"7s", false, {}},
      {"-7d", false, {}},       {"7D", false, {}},
      {"Permanent", false, {}}, {"1.5d", false, {}},
  };
  for (const auto& c : cases) {
    std::optional<int64_t> seconds = -1;
    EXPECT_EQ(ParseBanDuration(c.text, &seconds).ok(), c.ok) << c.text;
    EXPECT_EQ(c.ok ? seconds : std::nullopt, c.seconds) << c.text;
  }
}

}  // namespace
}  // namespace palisard
