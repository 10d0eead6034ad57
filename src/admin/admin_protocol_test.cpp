#include "admin/admin_protocol.h"

#include <gtest/gtest.h>

#include <functional>

#include "common/clock.h"
#include "helpers/http_client.h"
#include "helpers/recording_console.h"
#include "net/listener.h"

namespace palisard {
namespace {

using Bytes = std::vector<uint8_t>;
using Receiver = std::function<Result(SocketHandle, const Deadline&)>;

// `bytes` sent on a fresh loopback connection, which the sender then
// closes, and read by `receive` on the other end.
Result Deliver(const Bytes& bytes, const Receiver& receive) {
  Listener listener;
  RecordingConsole quiet;
  if (!listener.Initialize(0, quiet, Listener::Reach::kLoopbackOnly).ok())
    return Result::Failure(Result::Kind::kFailed);
  Socket sender = ConnectToLoopback(LocalPort(listener.socket()).value_or(0));
  Socket receiver;
  EXPECT_TRUE(AcceptConnection(listener.socket(), &receiver, nullptr).ok());
  EXPECT_TRUE(SendAll(sender.get(), bytes.data(), bytes.size()).ok());
  sender.reset();
  return receive(receiver.get(), Deadline(SystemClock(), std::chrono::seconds(2)));
}

TEST(AdminProtocolTest, PingAndItsAnswerAreTheDocumentedBytes) {
  EXPECT_EQ(EncodeQuery(kAdminPing), (Bytes{'P', 'L', 'S', 'D', 1, 0, 4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodePingReply(), (Bytes{'P', 'L', 'S', 'D', 2, 0, 0, 0}));
}

TEST(AdminProtocolTest, VoteTableLengthCountsOnlyItsFirstFourBytes) {
  VoteTable table{2, std::vector<VoteCount>(18)};
  table.records[0] = {0x0110000100000001ULL, 3};
  table.records[1] = {5, 300};
  Bytes message = EncodeVoteCounts(table);
  ASSERT_EQ(message.size(), 304u);
  EXPECT_EQ(Bytes(message.begin(), message.begin() + 16),
            (Bytes{'P', 'L', 'S', 'D', 2, 0, 4, 0, 1, 0, 18, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Bytes(message.begin() + 16, message.begin() + 32),
            (Bytes{1, 0, 0, 0, 1, 0, 0x10, 0x01, 3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(message[32 + 8], 255) << "300 votes do not fit the byte: the most it holds, not 300 mod 256";
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
  AdminRequest request;
  ASSERT_TRUE(
      Deliver(kick, [&](SocketHandle s, const Deadline& d) { return ReceiveAdminRequest(s, d, &request); }).ok());
  const VoteKickRequest* decoded = std::get_if<VoteKickRequest>(&request);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->key, 0x11223344u);
  EXPECT_EQ(decoded->voterId, 0x0102030405060708ULL);
  EXPECT_EQ(decoded->targetId, 42u);
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
  AdminHeader header;
  for (const Case& c : cases) EXPECT_EQ(DecodeAdminHeader(c.header.data(), &header).ok(), c.accepted);
}

// Each answer's receiver takes its own kind of answer and refuses the others.
TEST(AdminProtocolTest, EachReceiverTakesOnlyItsAnswer) {
  uint32_t key = 0;
  std::string text;
  VoteTable table;
  const Receiver ping = [](SocketHandle s, const Deadline& d) { return ReceivePingReply(s, d); };
  const Receiver registration = [&](SocketHandle s, const Deadline& d) { return ReceiveRegisterReply(s, d, &key); };
  const Receiver reply = [&](SocketHandle s, const Deadline& d) { return ReceiveTextReply(s, d, &text); };
  const Receiver votes = [&](SocketHandle s, const Deadline& d) { return ReceiveVoteCounts(s, d, &table); };
  Bytes otherKind = EncodeVoteCounts({1, {{100, 2}}});
  otherKind[8] = kAdminPing;  // records, but not under the vote table's kind
  Bytes cut = EncodeRegisterReply(77);
  cut.pop_back();
  struct Case {
    const char* what;
    Bytes sent;
    const Receiver& receive;
    Result::Kind kind;
  };
  const Case cases[] = {
      {"ping answered", EncodePingReply(), ping, Result::Kind::kOk},
      {"ping answered with a text", EncodeTextReply("no"), ping, Result::Kind::kConflict},
      {"key", EncodeRegisterReply(77), registration, Result::Kind::kOk},
      {"registration refused", EncodeTextReply("Invalid id provided when registering"), registration,
       Result::Kind::kRefused},
      {"registration answered with a ping answer", EncodePingReply(), registration, Result::Kind::kConflict},
      {"key cut short", cut, registration, Result::Kind::kClosed},
      {"text", EncodeTextReply(std::string(600, 'x')), reply, Result::Kind::kOk},
      {"text answered with a key", EncodeRegisterReply(77), reply, Result::Kind::kConflict},
      {"vote table", EncodeVoteCounts({3, {{100, 2}, {0, 0}}}), votes, Result::Kind::kOk},
      {"records of another kind", otherKind, votes, Result::Kind::kConflict},
      {"not the magic", {'P', 'L', 'S', 'X', 2, 0, 0, 0}, ping, Result::Kind::kInvalid},
  };
  for (const Case& c : cases) EXPECT_EQ(Deliver(c.sent, c.receive).kind(), c.kind) << c.what;
  EXPECT_EQ(key, 77u);
  EXPECT_EQ(text, std::string(511, 'x'));
  EXPECT_EQ(table.votesNeeded, 3u) << "the table of another kind left the last one standing";
  ASSERT_EQ(table.records.size(), 2u);
  EXPECT_EQ(table.records[0].votes, 2u);
}

}  // namespace
}  // namespace palisard
