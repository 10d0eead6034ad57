#include "service/feed/feed_lines.h"

#include <gtest/gtest.h>

#include "service/feed/feed_signature.h"

namespace palisard {
namespace {

TEST(FeedLinesTest, ReasonsArePublishedAsTheSettingSays) {
  FeedChange made{7, FeedChangeKind::kMade, 1700000000, {}};
  made.ban.ref = "r1";
  made.ban.playerId = 76561197960287930ULL;
  made.ban.until = 1700086400;
  // 199 characters, then a two-byte one that the cut keeps whole.
  made.ban.reason = std::string(199, 'x') + "\xC3\xA9" + "y\nsecond line";
  FeedChange lifted = made;
  lifted.change = FeedChangeKind::kLifted;
  lifted.ban.lift = BanLift{"mia", 1700000100, "appeal granted"};
  const std::string head = R"({"seq":7,"change":"made","ref":"r1","playerId":"76561197960287930",)"
                           R"("at":"2023-11-14T22:13:20Z","until":"2023-11-15T22:13:20Z","reason":)";
  const struct {
    const FeedChange& change;
    FeedReasons reasons;
    std::string reason;
  } cases[] = {
      {made, FeedReasons::kFirstLine, "\"" + std::string(199, 'x') + "\xC3\xA9\""},
      {made, FeedReasons::kFull, "\"" + std::string(199, 'x') + "\xC3\xA9y\\nsecond line\""},
      {made, FeedReasons::kNone, "null"},
      {lifted, FeedReasons::kFirstLine, "\"appeal granted\""},
  };
  for (const auto& c : cases) {
    std::string expected = head + c.reason + "}";
    if (c.change.change == FeedChangeKind::kLifted) expected.replace(expected.find("made"), 4, "lifted");
    EXPECT_EQ(FeedLine(c.change, c.reasons), expected);
  }
  EXPECT_EQ(FeedLastPage(0), 0);
  EXPECT_EQ(FeedLastPage(1000), 0);
  EXPECT_EQ(FeedLastPage(1001), 1);
}

TEST(FeedLinesTest, KeyFileTextReadsBackAndNothingElseDoes) {
  FeedKey key;
  ASSERT_TRUE(MakeFeedKey(&key).ok());
  FeedKey read;
  ASSERT_TRUE(ReadFeedKeyText(FeedKeyText(key), &read).ok());
  EXPECT_EQ(FeedPublicKey(read), FeedPublicKey(key));
  std::string cut = FeedKeyText(key);
  cut.erase(cut.size() - 6);
  EXPECT_EQ(ReadFeedKeyText(cut, &read).kind(), Result::Kind::kInvalid);
}

}  // namespace
}  // namespace palisard
