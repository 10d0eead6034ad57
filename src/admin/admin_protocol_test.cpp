#include "admin/admin_protocol.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AdminProtocolTest, PingAndItsAnswerAreTheDocumentedBytes) {
  EXPECT_EQ(EncodeQuery(kAdminPing), (Bytes{'P', 'L', 'S', 'D', 1, 0, 4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodePingReply(), (Bytes{'P', 'L', 'S', 'D', 2, 0, 0, 0}));
}

TEST(AdminProtocolTest, VoteTableLengthCountsOnlyItsFirstFourBytes) {
  std::vector<VoteCount> records(18);
  records[0] = {0x0110000100000001ULL, 3};
  Bytes message = EncodeVoteCounts(2, records);
  ASSERT_EQ(message.size(), 304u);
  EXPECT_EQ(Bytes(message.begin(), message.begin() + 16),
            (Bytes{'P', 'L', 'S', 'D', 2, 0, 4, 0, 1, 0, 18, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Bytes(message.begin() + 16, message.begin() + 32),
            (Bytes{1, 0, 0, 0, 1, 0, 0x10, 0x01, 3, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(AdminProtocolTest, TextRegisterAndVoteKickLayouts) {
  Bytes text = EncodeTextReply("Votekick successful");
  ASSERT_EQ(text.size(), 27u);
  EXPECT_EQ(text[6], 19);
  EXPECT_EQ(std::string(text.begin() + 8, text.end()), "Votekick successful");
  EXPECT_EQ(EncodeTextReply(std::string(600, 'x')).size(), 8u + 512u);

  EXPECT_EQ(EncodeRegister(0x0807060504030201ULL), (Bytes{'P', 'L', 'S', 'D', 4, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(EncodeRegisterReply(0xA1B2C3D4), (Bytes{'P', 'L', 'S', 'D', 4, 0, 4, 0, 0xD4, 0xC3, 0xB2, 0xA1}));

  Bytes kick = EncodeVoteKick({0x11223344, 0x0102030405060708ULL, 42});
  ASSERT_EQ(kick.size(), 32u);
  EXPECT_EQ(kick[6], 24);
  VoteKickRequest decoded = DecodeVoteKick(kick.data() + 8);
  EXPECT_EQ(decoded.key, 0x11223344u);
  EXPECT_EQ(decoded.voterId, 0x0102030405060708ULL);
  EXPECT_EQ(decoded.targetId, 42u);
}

TEST(AdminProtocolTest, HeaderAcceptanceRule) {
  struct Case {
    Bytes header;
    bool accepted;
  };
  const Case cases[] = {
      {{'P', 'L', 'S', 'D', 1, 0, 4, 0}, true},  {{'P', 'L', 'S', 'X', 1, 0, 4, 0}, false},  // magic
      {{'p', 'L', 'S', 'D', 1, 0, 4, 0}, false}, {{'P', 'L', 'S', 'D', 0, 0, 4, 0}, false},  // type 0
      {{'P', 'L', 'S', 'D', 6, 0, 4, 0}, false},                                             // type 6
      {{'P', 'L', 'S', 'D', 5, 1, 4, 0}, false},                                             // type 261
      {{'P', 'L', 'S', 'D', 3, 0, 0, 2}, true},                                              // length 512
      {{'P', 'L', 'S', 'D', 3, 0, 1, 2}, false},                                             // length 513
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeAdminHeader(c.header.data()).has_value(), c.accepted);
}

}  // namespace
}  // namespace palisard
