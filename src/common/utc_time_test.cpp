#include "common/utc_time.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(UtcTimeTest, GoesBothWaysAndRefusesWhatIsNotOne) {
  int64_t time = 0;
  ASSERT_TRUE(ParseUtcTime("2024-02-29T23:59:59Z", &time).ok());
  EXPECT_EQ(time, 1709251199);
  EXPECT_EQ(FormatUtcTime(time), "2024-02-29T23:59:59Z");
  EXPECT_EQ(FormatUtcTime(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FormatUtcTime(-1), "1969-12-31T23:59:59Z");
  ASSERT_TRUE(ParseUtcTime("1969-12-31T23:59:59Z", &time).ok());
  EXPECT_EQ(time, -1);
  for (const char* bad : {"2023-02-29T00:00:00Z", "2024-05-01T24:00:00Z", "2024-05-01T12:00:00", "2024-05-01 12:00:00Z",
                          "2024-05-01T12:00:00+02:00", "2024-05-01T12:00:00Zx", " 2024-05-01T12:00:00Z", ""}) {
    EXPECT_FALSE(ParseUtcTime(bad, &time).ok()) << bad;
  }
}

}  // namespace
}  // namespace palisard
