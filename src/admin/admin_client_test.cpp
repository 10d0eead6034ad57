#include "admin/admin_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "admin/admin_protocol.h"
#include "admin/admin_service.h"
#include "common/byte_order.h"
#include "helpers/fake_admin_host.h"
#include "helpers/fake_clock.h"
#include "helpers/http_client.h"
#include "helpers/memory_filter_engine.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kOwn = 76561197960265728ULL;
constexpr uint64_t kHost = 76561197960287930ULL;

// A copy that does not host, in a match served from 127.0.0.3.
class AdminClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.EditForTest([&](MatchData& d) {
      d.ownId = kOwn;
      d.hostId = kHost;
      d.gameFound = true;
      d.serverIp = {127, 0, 0, 3};
      d.hostAdminPort = 3061;
    });
    client = std::make_unique<AdminClient>(state, clock, AdminClient::Timeouts{1000ms, 2000ms});
  }

  // A host that answers probes and registrations on 127.0.0.3:`port`.
  std::unique_ptr<FakeAdminHost> ServeOn(uint16_t port, Bytes registerAnswer = EncodeRegisterReply(77)) {
    auto host = std::make_unique<FakeAdminHost>(Ipv4Endpoint{0x7F000003, port},
                                                [registerAnswer](uint16_t type, const Bytes&) -> Bytes {
                                                  if (type == kAdminQuery) return EncodePingReply();
                                                  if (type == kAdminRegister) return registerAnswer;
                                                  return {};
                                                });
    EXPECT_TRUE(host->listening());
    return host;
  }

  int Count(const FakeAdminHost& host, uint16_t type) {
    int n = 0;
    for (uint16_t t : host.received()) n += t == type;
    return n;
  }

  MatchState state;
  FakeClock clock;
  std::unique_ptr<AdminClient> client;
};

TEST_F(AdminClientTest, ProbeStepsThroughThePortsToTheService) {
  auto host = ServeOn(3064);
  EXPECT_EQ(client->ProbeStep(), 0ms);  // 3061
  EXPECT_EQ(client->ProbeStep(), 0ms);  // 3062
  EXPECT_EQ(client->ProbeStep(), 0ms);  // 3063
  EXPECT_EQ(client->ProbeStep(), 2000ms);
  EXPECT_TRUE(state.Snapshot().hostEnabled);
  EXPECT_EQ(state.Snapshot().hostAdminPort, 3064);
  EXPECT_TRUE(state.Snapshot().registered);
  EXPECT_EQ(state.Snapshot().registrationKey, 77u);
  EXPECT_EQ(client->ProbeStep(), 2000ms);
  EXPECT_EQ(state.Snapshot().hostAdminPort, 3064) << "stays on the port that answers";
}

TEST_F(AdminClientTest, ProbeWrapsAfter3072AndRestsAfterAFullSweep) {
  state.EditForTest([&](MatchData& d) { d.serverIp = {127, 0, 0, 4}; });  // nothing listens there
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(client->ProbeStep(), 0ms);
    EXPECT_EQ(state.Snapshot().hostAdminPort, 3062 + i);
  }
  EXPECT_EQ(client->ProbeStep(), 2000ms) << "a whole sweep found nothing";
  EXPECT_EQ(state.Snapshot().hostAdminPort, 3061);
  EXPECT_FALSE(state.Snapshot().hostEnabled);
}

TEST_F(AdminClientTest, NoServerMeansNoConnection) {
  state.EditForTest([&](MatchData& d) { d.serverIp = {0, 0, 0, 0}; });
  EXPECT_EQ(client->ProbeStep(), 60s) << "sleeps until the link changes";
  EXPECT_EQ(state.Snapshot().hostAdminPort, 3061);
  std::string text = "untouched";
  EXPECT_EQ(client->RequestVoteKick(5, &text).code(), AdminClient::kRequestFailed);
  EXPECT_EQ(text, "untouched");
}

TEST_F(AdminClientTest, RegistrationIsRenewedOnlyAfterMoreThanFiveSeconds) {
  state.EditForTest([&](MatchData& d) { d.hostAdminPort = 3065; });
  auto host = ServeOn(3065);
  client->ProbeStep();
  ASSERT_EQ(Count(*host, kAdminRegister), 1);
  clock.Advance(5'000);
  client->ProbeStep();
  EXPECT_EQ(Count(*host, kAdminRegister), 1);
  clock.Advance(1);
  client->ProbeStep();
  EXPECT_EQ(Count(*host, kAdminRegister), 2);
}

TEST_F(AdminClientTest, RefusedRegistrationKeepsTheEarlierKey) {
  state.EditForTest([&](MatchData& d) { d.hostAdminPort = 3066; });
  auto host = ServeOn(3066, EncodeTextReply("Invalid id provided when registering"));
  state.EditForTest([&](MatchData& d) {
    d.registrationKey = 55;
    d.registered = true;
  });
  EXPECT_EQ(client->RegisterWithHost().kind(), Result::Kind::kRefused);
  EXPECT_EQ(state.Snapshot().registrationKey, 55u);
  EXPECT_TRUE(state.Snapshot().registered);
}

TEST_F(AdminClientTest, VoteTableSkipsEmptySlotsAndIsTakenWholeOrNotAtAll) {
  for (std::size_t slot : {0, 1, 3}) {
    state.EditForTest([&](MatchData& d) {
      d.clients[slot].SetCommunityId(100 + slot);
      d.SyncPlayerRecords();
    });
  }
  state.EditForTest([&](MatchData& d) {
    d.hostEnabled = true;
    d.hostAdminPort = 3067;
  });
  std::vector<VoteCount> table = {{100, 2}, {101, 1}, {0, 0}, {103, 3}};
  std::size_t cut = 0;  // bytes of the answer held back
  FakeAdminHost host({0x7F000003, 3067}, [&](uint16_t, const Bytes&) {
    Bytes answer = EncodeVoteCounts({2, table});
    answer.resize(answer.size() - cut);
    return answer;
  });
  clock.Advance(4'000);
  EXPECT_EQ(client->VoteCountStep(), 6s) << "sleeps to the due time";
  EXPECT_TRUE(host.received().empty()) << "not before 10 s";
  clock.Advance(6'000);
  client->VoteCountStep();
  EXPECT_EQ(state.Snapshot().votesNeeded, 2u);
  EXPECT_EQ(state.Snapshot().players[0].votesAgainst, 2u);
  EXPECT_EQ(state.Snapshot().players[1].votesAgainst, 1u);
  EXPECT_EQ(state.Snapshot().players[3].votesAgainst, 3u) << "counts after an empty slot are taken too";

  // The host stops after the header, after the threshold, or one record
  // short: the last whole table stands.
  table = {{100, 0}, {101, 0}, {0, 0}, {103, 0}};
  const std::size_t whole = EncodeVoteCounts({1, table}).size();
  for (std::size_t sent : {std::size_t{8}, std::size_t{16}, whole - 16}) {
    cut = whole - sent;
    clock.Advance(10'000);
    client->VoteCountStep();
    EXPECT_EQ(state.Snapshot().votesNeeded, 2u) << sent << " bytes";
    EXPECT_EQ(state.Snapshot().players[0].votesAgainst, 2u) << sent << " bytes";
  }
}

TEST_F(AdminClientTest, LostHostIsLookedForAgainOnEveryPort) {
  std::atomic<bool> answering{true};
  FakeAdminHost host({0x7F000003, 3064}, [&](uint16_t type, const Bytes&) -> Bytes {
    if (!answering) return {};
    return type == kAdminQuery ? EncodePingReply() : EncodeRegisterReply(77);
  });
  while (client->ProbeStep() == 0ms) {
  }
  ASSERT_TRUE(state.Snapshot().hostEnabled);
  ASSERT_EQ(state.Snapshot().hostAdminPort, 3064);

  answering = false;  // the service goes silent ...
  EXPECT_EQ(client->ProbeStep(), 0ms);
  EXPECT_FALSE(state.Snapshot().hostEnabled);
  EXPECT_FALSE(state.Snapshot().registered) << "the key of a service that went away";
  answering = true;  // ... and comes back where it was
  for (uint16_t port : {3061, 3062, 3063}) {
    EXPECT_EQ(state.Snapshot().hostAdminPort, port);
    EXPECT_EQ(client->ProbeStep(), 0ms);
  }
  EXPECT_EQ(client->ProbeStep(), 2000ms);
  EXPECT_TRUE(state.Snapshot().hostEnabled);
  EXPECT_EQ(state.Snapshot().registrationKey, 77u);
}

TEST_F(AdminClientTest, AnswersFromThePreviousServerAreDropped) {
  state.EditForTest([&](MatchData& d) {
    d.clients[0].SetCommunityId(100);
    d.SyncPlayerRecords();
    d.votesNeeded = 5;
    d.hostAdminPort = 3069;
  });
  // While the host answers, the match moves to another server and back:
  // the same address, but no longer the same exchange.
  auto serverChangesAndComesBack = [&] {
    const std::vector<GameClientEntry> clients = state.Snapshot().clients;
    state.ApplyClientsAndServer(clients, {127, 0, 0, 9}, 28960);
    state.ApplyClientsAndServer(clients, {127, 0, 0, 3}, 28960);
    state.EditForTest([&](MatchData& d) { d.hostAdminPort = 3069; });
  };
  FakeAdminHost host({0x7F000003, 3069}, [&](uint16_t type, const Bytes& payload) -> Bytes {
    serverChangesAndComesBack();
    if (type == kAdminRegister) return EncodeRegisterReply(77);
    if (payload[0] == kAdminVoteCounts) return EncodeVoteCounts({1, {{100, 4}}});
    return EncodePingReply();
  });
  (void)client->RegisterWithHost();
  EXPECT_FALSE(state.Snapshot().registered);
  client->ProbeStep();
  EXPECT_FALSE(state.Snapshot().hostEnabled);
  state.EditForTest([&](MatchData& d) { d.hostEnabled = true; });
  clock.Advance(10'000);
  client->VoteCountStep();
  EXPECT_EQ(state.Snapshot().votesNeeded, 0u) << "cleared by the change, not the old host's 1";
  EXPECT_EQ(state.Snapshot().players[0].votesAgainst, 0u);
  EXPECT_EQ(host.received().size(), 3u);
}

TEST_F(AdminClientTest, ServerChangeCutsTheProbePauseShort) {
  std::atomic<bool> paused{false};
  std::thread probe([&] {
    client->PauseProbe(2000ms);  // the fake clock never gets there by itself
    paused = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(paused);
  state.ApplyClientsAndServer(state.Snapshot().clients, {127, 0, 0, 9}, 28960);
  for (int i = 0; i < 100 && !paused; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(paused);
  clock.Advance(2'000);  // ends the pause in any case
  probe.join();
}

TEST_F(AdminClientTest, AfterAVoteTheTableIsFetchedEverySecondForThirtySeconds) {
  state.EditForTest([&](MatchData& d) { d.hostEnabled = true; });
  ASSERT_TRUE(state.RequestVote(clock.NowMs()));
  clock.Advance(10'000);
  EXPECT_EQ(client->VoteCountStep(), 0ms);  // a poll (nothing answers on 127.0.0.3)
  EXPECT_EQ(client->VoteCountStep(), 1000ms);
  clock.Advance(21'000);  // 31 s after the vote
  EXPECT_EQ(client->VoteCountStep(), 0ms);
  EXPECT_EQ(client->VoteCountStep(), 10'000ms);
}

TEST_F(AdminClientTest, VoteKickAnsweredByNothingLeavesTheText) {
  state.EditForTest([&](MatchData& d) { d.hostAdminPort = 3068; });
  FakeAdminHost host({0x7F000003, 3068}, [](uint16_t, const Bytes&) { return Bytes{}; });
  std::string text = "untouched";
  EXPECT_TRUE(client->RequestVoteKick(5, &text).ok());
  EXPECT_EQ(text, "untouched");
}

// A hosting copy and a client copy, each with its own match state, talking
// over loopback: register, vote, kick, and the new count reaches the client.
TEST(AdminEndToEndTest, RegisterVoteKickAndSeeTheCount) {
  constexpr uint64_t kTarget = 76561197960265999ULL;
  MatchState hostState;
  MatchState clientState;
  for (MatchState* state : {&hostState, &clientState}) {
    const std::pair<uint64_t, Ipv4Bytes> players[] = {
        {kHost, {198, 18, 0, 1}}, {kOwn, {127, 0, 0, 1}}, {kTarget, {198, 18, 0, 9}}};
    for (std::size_t slot = 0; slot < 3; ++slot) {
      state->EditForTest([&](MatchData& d) {
        d.clients[slot].SetCommunityId(players[slot].first);
        d.clients[slot].SetAddress(players[slot].second);
      });
    }
    state->EditForTest([&](MatchData& d) {
      d.SyncPlayerRecords();
      d.hostId = kHost;
      d.gameFound = true;
    });
  }
  hostState.EditForTest([&](MatchData& d) { d.ownId = kHost; });
  clientState.EditForTest([&](MatchData& d) { d.ownId = kOwn; });

  MemoryFilterEngine engine;
  FakeClock clock;
  Firewall firewall(engine, clock);
  ASSERT_TRUE(firewall.Initialize().ok());
  RecordingConsole console;
  AdminService service(hostState, firewall, clock, AdminService::Limits{}, RandomRegistrationKey, console);
  Listener server;
  ASSERT_TRUE(server.Initialize(0, console).ok());
  const uint16_t port = LocalPort(server.socket()).value_or(0);
  std::thread loop([&] { EXPECT_TRUE(service.AdminAcceptLoop(server).ok()); });
  // Stops the loop however the test ends: a failed ASSERT returns early, and
  // a thread left joinable would end the whole test binary.
  struct LoopStopper {
    AdminService& service;
    uint16_t port;
    std::thread& loop;
    ~LoopStopper() {
      service.RequestStop();
      ConnectToLoopback(port);
      loop.join();
      for (int i = 0; i < 500 && service.slots().inUse() > 0; ++i) std::this_thread::sleep_for(10ms);
    }
  } stopper{service, port, loop};

  clientState.EditForTest([&](MatchData& d) {
    d.serverIp = {127, 0, 0, 1};
    d.hostAdminPort = port;
  });
  AdminClient client(clientState, clock, AdminClient::Timeouts{});
  EXPECT_EQ(client.ProbeStep(), 2000ms);
  EXPECT_TRUE(clientState.Snapshot().hostEnabled);
  EXPECT_TRUE(clientState.Snapshot().registered);
  EXPECT_EQ(clientState.Snapshot().registrationKey, hostState.Snapshot().players[1].key);

  std::string reply;
  console.Take();
  EXPECT_TRUE(client.RequestVoteKick(kTarget, &reply).ok());
  EXPECT_EQ(reply, "Votekick successful");
  EXPECT_EQ(console.Take(), "Kicking 76561197960265999\n");
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().address, 0xC6120009u);

  clock.Advance(10'000);
  client.VoteCountStep();
  EXPECT_EQ(clientState.Snapshot().players[2].votesAgainst, 1u);
  EXPECT_EQ(clientState.Snapshot().votesNeeded, 1u);
}

}  // namespace
}  // namespace palisard
