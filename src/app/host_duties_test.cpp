#include "app/host_duties.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "helpers/fake_clock.h"
#include "helpers/fake_http_server.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

constexpr uint64_t kHost = 76561197960287930ULL;
constexpr uint64_t kOther = 76561197960265728ULL;
constexpr uint64_t kThird = 76561197960265999ULL;
constexpr uint64_t kFourth = 76561197960266000ULL;

struct FakeBanList : BanList {
  bool Streaming() const override { return streaming; }
  void AskAbout(const std::vector<uint64_t>& ids) override { asked.push_back(ids); }
  std::optional<bool> IsBanned(uint64_t id) const override {
    auto it = answers.find(id);
    if (it == answers.end()) return std::nullopt;
    return it->second;
  }
  bool streaming = true;
  std::map<uint64_t, bool> answers;
  std::vector<std::vector<uint64_t>> asked;
};

struct RecordingBlocker : Blocker {
  Result Block(uint32_t address, uint64_t id, BlockReason) override {
    blocked.emplace_back(address, id);
    return result;
  }
  Result result;
  void RemoveExpiredBlocks() override { ++sweeps; }
  void ClearBlocks() override { ++clears; }
  std::vector<std::pair<uint32_t, uint64_t>> blocked;
  int sweeps = 0;
  int clears = 0;
};

// This copy hosts a match of three: itself in slot 0, two others.
class HostDutiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.EditForTest([](MatchData& d) {
      d.ownId = d.hostId = kHost;
      d.serverIp = {127, 0, 0, 1};
      d.clients[0] = GameClientEntry::For("Me", {127, 0, 0, 1}, 28960, kHost);
      d.clients[1] = GameClientEntry::For("Them", {198, 18, 0, 9}, 28960, kOther);
      d.clients[4] = GameClientEntry::For("Third", {198, 18, 0, 4}, 28960, kThird);
      d.SyncPlayerRecords();
    });
  }

  MatchState state;
  FakeBanList bans;
  RecordingBlocker blocker;
  RecordingConsole console;
  HostDuties duties{state, bans, blocker, console};
};

TEST_F(HostDutiesTest, VotedOutPlayersAreBlockedAboveTheThresholdOnlyNeverTheHost) {
  // Four registered: two votes needed.
  state.EditForTest([](MatchData& d) {
    d.clients[5] = GameClientEntry::For("Fourth", {198, 18, 0, 5}, 28960, kFourth);
    d.SyncPlayerRecords();
    for (int slot : {0, 1, 4, 5}) d.players[slot].key = 7;
    d.players[0].votedIds = {kThird, kOther};
    d.players[1].votedIds = {kThird, kHost};
    d.players[4].votedIds = {kHost};
    d.players[5].votedIds = {kThird, kOther, kHost};
  });
  duties.AfterPass(true);
  using Block = std::pair<uint32_t, uint64_t>;
  EXPECT_EQ(blocker.blocked, (std::vector<Block>{{0xC6120004u, kThird}}))
      << "two votes are not above the threshold, and the host is never blocked";
  EXPECT_EQ(blocker.sweeps, 1);

  // A vote leaves with its voter: two left against Third, two needed.
  state.EditForTest([](MatchData& d) {
    d.clients[5] = GameClientEntry{};
    d.SyncPlayerRecords();
  });
  blocker.blocked.clear();
  duties.AfterPass(true);
  EXPECT_TRUE(blocker.blocked.empty());
}

TEST_F(HostDutiesTest, AFailedBlockIsToldOnce) {
  bans.answers = {{kOther, true}};
  blocker.result = Result::Failure(Result::Kind::kFailed, 0x80320001);
  duties.AfterPass(true);
  duties.AfterPass(true);
  EXPECT_EQ(console.Take(), "Could not block 76561197960265728 ( 198.18.0.9 ): 80320001\n");
  // A firewall shut down on the way out is no failure to tell.
  blocker.result = Result::Failure(Result::Kind::kClosed, Firewall::kNotOpen);
  duties.AfterPass(true);
  EXPECT_EQ(console.Take(), "");
}

TEST_F(HostDutiesTest, BannedPlayersAreBlockedButNeverTheHost) {
  bans.answers = {{kHost, true}, {kOther, true}, {kThird, false}};
  duties.AfterPass(true);
  ASSERT_EQ(bans.asked.size(), 1u);
  EXPECT_EQ(bans.asked[0], (std::vector<uint64_t>{kHost, kOther, kThird}));
  ASSERT_EQ(blocker.blocked.size(), 1u);
  EXPECT_EQ(blocker.blocked[0].second, kOther);

  bans.streaming = false;  // answers are kept, but no longer act
  blocker.blocked.clear();
  duties.AfterPass(true);
  EXPECT_TRUE(blocker.blocked.empty());
}

TEST_F(HostDutiesTest, NotHostingOnlySweepsAndLosingTheHostingClears) {
  bans.answers = {{kOther, true}};
  duties.AfterPass(false);
  EXPECT_TRUE(bans.asked.empty());
  EXPECT_TRUE(blocker.blocked.empty());
  EXPECT_EQ(blocker.sweeps, 1) << "blocks made while hosting still expire";
  duties.StoppedHosting();
  EXPECT_EQ(blocker.clears, 1);
}

// The real ban service behind the seam: the pass never waits for it, and
// what it answers is acted on by a later pass.
TEST_F(HostDutiesTest, BanLookupsRunBesideThePasses) {
  using namespace std::chrono_literals;
  FakeClock clock;
  RecordingConsole console;
  auto serviceOn = [&](const FakeHttpServer& server) {
    BanService::Options options;
    options.port = server.port();
    options.limits.answer = 300ms;
    auto service = std::make_unique<BanService>(clock, options, console);
    service->SetHost("127.0.0.1");
    return service;
  };

  FakeHttpServer silent([](const std::string&) { return std::string(); }, FakeHttpServer::Mode::kSilent);
  auto stalled = serviceOn(silent);
  {
    BanServiceList list(*stalled);
    HostDuties slowService{state, list, blocker};
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 10; ++pass) slowService.AfterPass(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    for (int i = 0; i < 200 && silent.requests().empty(); ++i) std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(silent.requests().size(), 1u) << "one exchange, then the pause after its failure";

  FakeHttpServer answering([](const std::string&) {
    return FakeHttpServer::Ok("<Envelope><BanStatus><CommunityId>" + std::to_string(kOther) +
                              "</CommunityId><IsBanned>true</IsBanned><BanScore>1</BanScore></BanStatus></Envelope>");
  });
  auto service = serviceOn(answering);
  BanServiceList list(*service);
  HostDuties live{state, list, blocker};
  live.AfterPass(true);
  for (int i = 0; i < 200 && !service->IsBanned(kOther); ++i) std::this_thread::sleep_for(10ms);
  live.AfterPass(true);
  ASSERT_FALSE(blocker.blocked.empty());
  EXPECT_EQ(blocker.blocked.back(), std::make_pair(0xC6120009u, kOther));
}

}  // namespace
}  // namespace palisard
