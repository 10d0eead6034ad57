#include "admin/admin_service.h"

#include <gtest/gtest.h>

#include <thread>

#include "helpers/fake_clock.h"
#include "helpers/http_client.h"
#include "helpers/memory_filter_engine.h"
#include "helpers/recording_console.h"
#include "helpers/sanitizers.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kHost = 76561197960287930ULL;
constexpr uint64_t kA = 76561197960265728ULL;
constexpr uint64_t kB = 76561197960265729ULL;
constexpr uint64_t kC = 76561197960265730ULL;

std::string TextOf(const Bytes& answer) {
  if (answer.size() < 8 || answer[4] != kAdminTextReply) return "<not a text>";
  return std::string(answer.begin() + 8, answer.end());
}

uint32_t KeyOf(const Bytes& answer) {
  if (answer.size() != 12 || answer[4] != kAdminRegister) return 0;
  return answer[8] | (answer[9] << 8) | (answer[10] << 16) | (static_cast<uint32_t>(answer[11]) << 24);
}

class AdminServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(firewall.Initialize().ok());
    Occupy(0, kHost, {198, 18, 0, 1});
    Occupy(1, kA, {198, 18, 0, 2});
    Occupy(2, kB, {198, 18, 0, 3});
    Occupy(3, kC, {198, 18, 0, 4});
    state.EditForTest([&](MatchData& d) {
      d.hostId = d.ownId = kHost;
      d.serverIp = {198, 18, 0, 1};
    });
  }

  void Occupy(std::size_t slot, uint64_t id, Ipv4Bytes address) {
    state.EditForTest([&](MatchData& d) {
      d.clients[slot].SetCommunityId(id);
      d.clients[slot].SetAddress(address);
      d.SyncPlayerRecords();
    });
  }

  // The service's answer to `request` from `from` (host order); empty when
  // it gives none.
  Bytes Ask(const AdminRequest& request, uint32_t from = kLoopbackAddress) {
    Bytes answer;
    if (!service.Answer(request, from, &answer).ok()) answer.clear();
    return answer;
  }

  uint32_t RegisterFromSlot(uint64_t id, uint32_t address) { return KeyOf(Ask(RegisterRequest{id}, address)); }

  std::string Vote(uint64_t voter, uint64_t target, uint32_t key, uint32_t from = kLoopbackAddress) {
    std::string text = TextOf(Ask(VoteKickRequest{key, voter, target}, from));
    console = recording.Take();
    return text;
  }

  MatchState state;
  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall{engine, clock};
  uint32_t nextKey = 1000;
  RecordingConsole recording;
  AdminService service{state, firewall, clock, AdminService::Limits{}, [this] { return nextKey++; }, recording};
  std::string console;
};

TEST_F(AdminServiceTest, RegistrationChecksTheCallersAddress) {
  uint32_t key = RegisterFromSlot(kA, 0xC6120002);
  EXPECT_EQ(key, 1000u);
  EXPECT_EQ(state.Snapshot().players[1].key, 1000u);
  EXPECT_EQ(RegisterFromSlot(kA, 0xC6120002), 1000u) << "the same key again";
  EXPECT_EQ(TextOf(Ask(RegisterRequest{kB}, 0xC6120002)), "Invalid id provided when registering");
  EXPECT_EQ(TextOf(Ask(RegisterRequest{999}, 0xC6120002)), "Invalid id provided when registering");
  EXPECT_EQ(TextOf(Ask(RegisterRequest{0}, 0)), "Invalid id provided when registering") << "an empty slot's id";
  // The host's own copy comes over loopback, never from its slot address.
  EXPECT_EQ(TextOf(Ask(RegisterRequest{kHost}, 0xC6120001)), "Invalid id provided when registering");
  EXPECT_EQ(RegisterFromSlot(kHost, kLoopbackAddress), 1001u);
}

TEST_F(AdminServiceTest, RandomKeysAreNeverZeroAndDiffer) {
  uint32_t a = RandomRegistrationKey();
  uint32_t b = RandomRegistrationKey();
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_NE(a, b);
}

TEST_F(AdminServiceTest, VoteChecksInOrder) {
  uint32_t keyA = RegisterFromSlot(kA, 0xC6120002);
  EXPECT_EQ(Vote(0, 0, 0), "You cannot votekick yourself");
  EXPECT_EQ(Vote(kA, kA, keyA), "You cannot votekick yourself");
  EXPECT_EQ(Vote(kA, 999, keyA), "Invalid id provided");
  EXPECT_EQ(Vote(999, kB, keyA), "Invalid id provided");
  EXPECT_EQ(Vote(kA, 0, keyA), "Invalid id provided");
  EXPECT_EQ(Vote(kA, kHost, keyA), "You cannot votekick the host");
  EXPECT_EQ(Vote(kA, kB, keyA + 1), "Invalid key provided");
  EXPECT_EQ(Vote(kB, kA, 0), "Invalid key provided") << "an unregistered slot's key 0 is no key";
  EXPECT_TRUE(state.Snapshot().players[1].votedIds.empty());
}

TEST_F(AdminServiceTest, AnAddressGuessingKeysIsDroppedForAWhileAndToldOnce) {
  constexpr uint32_t kGuesser = 0xCB007107;  // 203.0.113.7
  const uint32_t keyA = RegisterFromSlot(kA, 0xC6120002);
  for (uint32_t guess : {1, 2, 3, 4, 5}) EXPECT_EQ(Vote(kA, kB, keyA + guess, kGuesser), "Invalid key provided");
  for (int unregistered = 0; unregistered < 10; ++unregistered) Vote(kA, kB, 0, kGuesser);  // no guesses
  EXPECT_EQ(console, "");
  clock.Advance(59'000);
  EXPECT_EQ(Vote(kA, kB, keyA + 6, kGuesser), "Invalid key provided");
  EXPECT_EQ(console, "Dropping admin messages from 203.0.113.7 for 10 minutes: too many invalid vote keys\n");
  EXPECT_EQ(Vote(kA, kB, keyA + 7, kGuesser), "<not a text>");
  EXPECT_EQ(Vote(kA, kB, keyA, kGuesser), "<not a text>") << "even the right key";
  EXPECT_EQ(console, "") << "told once";
  EXPECT_TRUE(Ask(QueryRequest{kAdminPing}, kGuesser).empty());
  EXPECT_EQ(Ask(QueryRequest{kAdminPing}, 0xC6120002), EncodePingReply()) << "the others are served";
  clock.Advance(599'999);
  EXPECT_TRUE(Ask(QueryRequest{kAdminPing}, kGuesser).empty()) << "dropped for ten minutes, not the minute counted";
  clock.Advance(1);
  EXPECT_EQ(Ask(QueryRequest{kAdminPing}, kGuesser), EncodePingReply());
}

TEST_F(AdminServiceTest, CoolDownAndRepeatedVotes) {
  // Everybody registered: two votes are needed, so one kicks nobody.
  state.EditForTest([&](MatchData& d) {
    for (PlayerRecord& p : d.players) p.key = p.communityId != 0 ? 7 : 0;
  });
  uint32_t keyA = RegisterFromSlot(kA, 0xC6120002);
  EXPECT_EQ(Vote(kA, kB, keyA), "Votekick successful");
  clock.Advance(10'000);
  EXPECT_EQ(Vote(kA, kC, keyA), "Please wait and try again in 5 seconds");
  clock.Advance(4'200);
  EXPECT_EQ(Vote(kA, kC, keyA), "Please wait and try again in 1 seconds");
  clock.Advance(800);  // exactly 15 s after the recorded vote
  EXPECT_EQ(Vote(kA, kB, keyA), "You already voted to kick that player");
  EXPECT_EQ(Vote(kA, kC, keyA), "Votekick successful") << "only a recorded vote starts the cool-down";
  EXPECT_EQ(CountVotesAgainst(state.Snapshot(), kB), 1u);
  EXPECT_EQ(CountVotesAgainst(state.Snapshot(), kC), 1u);
  EXPECT_TRUE(engine.filters().empty());
}

TEST_F(AdminServiceTest, VoteReachingTheThresholdKicks) {
  RegisterFromSlot(kHost, kLoopbackAddress);  // three registered: two votes kick
  uint32_t keyA = RegisterFromSlot(kA, 0xC6120002);
  uint32_t keyB = RegisterFromSlot(kB, 0xC6120003);
  EXPECT_EQ(Vote(kA, kC, keyA), "Votekick successful");
  EXPECT_EQ(console, "");
  EXPECT_TRUE(engine.filters().empty());
  EXPECT_EQ(Vote(kB, kC, keyB), "Votekick successful");
  EXPECT_EQ(console, "Kicking 76561197960265730\n");
  EXPECT_EQ(Vote(kHost, kC, RegisterFromSlot(kHost, kLoopbackAddress)), "Votekick successful");
  EXPECT_EQ(console, "") << "one kick for the block, however many votes pass the threshold";
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().address, 0xC6120004u);
  EXPECT_EQ(firewall.Blocks().front().CommunityId(), kC);
}

TEST_F(AdminServiceTest, FailedKickIsToldAsSuch) {
  engine.FailNextAddWith(0x80320001);
  uint32_t keyA = RegisterFromSlot(kA, 0xC6120002);  // alone registered: one vote kicks
  EXPECT_EQ(Vote(kA, kC, keyA), "Votekick successful");
  EXPECT_EQ(console, "Could not block 76561197960265730 ( 198.18.0.4 ): 80320001\n");
  EXPECT_TRUE(firewall.Blocks().empty());
}

TEST_F(AdminServiceTest, VoteTableCountsThePresentVoters) {
  state.EditForTest([&](MatchData& d) {
    for (PlayerRecord& p : d.players) p.key = p.communityId != 0 ? 7 : 0;  // four registered: 2 needed
    d.players[0].votedIds = {kB};
    d.players[1].votedIds = {kB};
  });
  Bytes answer = Ask(QueryRequest{kAdminVoteCounts});
  ASSERT_EQ(answer.size(), 8u + 8u + 18u * 16u);
  EXPECT_EQ(answer[12], 2);
  EXPECT_EQ(answer[16 + 2 * 16 + 8], 2);
  EXPECT_EQ(answer[16 + 17 * 16], 0) << "empty slots are sent with id 0";
  EXPECT_TRUE(Ask(QueryRequest{2}).empty());
}

// The service on a real loopback socket, attacked from 127.0.0.2 while a
// well-behaved copy pings from 127.0.0.1.
class AdminServiceSocketTest : public AdminServiceTest {
 protected:
  void SetUp() override {
    AdminServiceTest::SetUp();
    state.EditForTest([&](MatchData& d) { d.hostId = d.ownId = 0; });  // hosting before any game: accepts
    AdminService::Limits limits;
    limits.messageTimeout = 300ms;
    live = std::make_unique<AdminService>(state, firewall, clock, limits);
    RecordingConsole quiet;
    ASSERT_TRUE(server.Initialize(0, quiet).ok());
    port = LocalPort(server.socket()).value_or(0);
    loop = std::thread([this] { EXPECT_TRUE(live->AdminAcceptLoop(server).ok()); });
  }

  void TearDown() override {
    if (!loop.joinable()) return;  // SetUp failed before the loop started
    live->RequestStop();
    ConnectToLoopback(port);
    loop.join();
    for (int i = 0; i < 500 && live->slots().inUse() > 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(live->slots().inUse(), 0u);
  }

  std::string Exchange(const Bytes& request, uint32_t from = 0) {
    Socket socket = ConnectToLoopback(port, from);
    if (!socket.valid()) return "<no connection>";
    EXPECT_TRUE(SendAll(socket.get(), request.data(), request.size()).ok());
    return ReadUntilClosed(socket.get(), 3000);
  }

  bool PingAnswered() {
    std::string answer = Exchange(EncodeQuery(kAdminPing));
    return answer == std::string("PLSD\x02\x00\x00\x00", 8);
  }

  Listener server;
  uint16_t port = 0;
  std::unique_ptr<AdminService> live;
  std::thread loop;
};

TEST_F(AdminServiceSocketTest, MalformedMessagesGetNoAnswer) {
  EXPECT_TRUE(PingAnswered());
  Bytes zeroLengthQuery = {'P', 'L', 'S', 'D', 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Exchange(zeroLengthQuery), std::string("PLSD\x02\x00\x00\x00", 8)) << "4 bytes read anyway";
  EXPECT_EQ(Exchange({'P', 'L', 'S', 'D', 1, 0, 4, 0, 2, 0, 0, 0}), "") << "kind 2";
  EXPECT_EQ(Exchange({'P', 'L', 'S', 'D', 4, 0, 4, 0, 1, 2, 3, 4}), "") << "Register of length 4";
  Bytes shortKick = {'P', 'L', 'S', 'D', 5, 0, 16, 0};
  shortKick.resize(24, 0);
  EXPECT_EQ(Exchange(shortKick), "") << "VoteKick of length 16";
  EXPECT_EQ(Exchange({'P', 'L', 'S', 'X', 1, 0, 4, 0, 0, 0, 0, 0}), "") << "magic";
  Bytes noise(300);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
  EXPECT_EQ(Exchange(noise), "");
}

TEST_F(AdminServiceSocketTest, SilentAndSlowPeersAreCutOffWhileOthersAreServed) {
  Socket silent = ConnectToLoopback(port, 0x7F000002);
  EXPECT_TRUE(SendAll(silent.get(), "PLSD", 4).ok());  // half a header, then nothing
  Socket slow = ConnectToLoopback(port, 0x7F000002);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) {
    (void)SendAll(slow.get(), "P", 1);
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(PingAnswered());
  EXPECT_EQ(ReadUntilClosed(silent.get(), 3000), "");
  EXPECT_EQ(ReadUntilClosed(slow.get(), 3000), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(AdminServiceSocketTest, AThousandConnectionsFromOneAddressDoNotStarveOthers) {
  std::vector<Socket> flood;
  for (int i = 0; i < 1000; ++i) {
    Socket socket = ConnectToLoopback(port, 0x7F000002);
    if (socket.valid()) flood.push_back(std::move(socket));
  }
  EXPECT_GT(flood.size(), 900u);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(PingAnswered());
  EXPECT_LT(std::chrono::steady_clock::now() - start, kResponsiveLimit);
  EXPECT_LE(live->slots().inUse(), 9u) << "at most 8 from the flooding address";
}

}  // namespace
}  // namespace palisard
