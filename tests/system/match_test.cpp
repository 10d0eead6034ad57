#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "helpers/fake_http_server.h"
#include "system/machine.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

struct Player {
  const char* name;
  const char* id;
  const char* address;
};

// The host, three more players with Palisard, and one (banned) without it.
const Player kHost = {"Host", "76561198000000001", "198.18.0.1"};
const Player kAlice = {"Alice", "76561198000000002", "198.18.0.2"};
const Player kBob = {"Bob", "76561198000000003", "198.18.0.3"};
const Player kTroll = {"Troll", "76561198000000004", "198.18.0.4"};
const Player kCheater = {"Cheater", "76561198000000005", "198.18.0.5"};
const Player kEveryone[] = {kHost, kAlice, kBob, kTroll, kCheater};

std::string ServiceAnswer(const std::string& request) {
  if (request.find("rosterhall/AddInfraction") != std::string::npos) {
    return FakeHttpServer::Ok("<Envelope><AddInfractionResult>true</AddInfractionResult></Envelope>");
  }
  std::string statuses;
  for (const Player& player : kEveryone) {
    bool banned = player.id == kCheater.id;
    statuses += std::string("<BanStatus><CommunityId>") + player.id + "</CommunityId><IsBanned>" +
                (banned ? "true" : "false") + "</IsBanned><BanScore>0</BanScore></BanStatus>";
  }
  return FakeHttpServer::Ok("<Envelope>" + statuses + "</Envelope>");
}

// Waits up to `limit` for `condition`.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 10s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

class MatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces and nftables";
    network = std::make_unique<TestNetwork>();
    serviceMachine = std::make_unique<Machine>("service", "198.18.0.100");
    network->Attach(*serviceMachine);
    service = serviceMachine->network().Inside(
        [] { return std::make_unique<FakeHttpServer>(ServiceAnswer, FakeHttpServer::Mode::kAnswer, Ipv4Endpoint{0, 80}); });

    for (const Player* player : {&kHost, &kAlice, &kBob, &kTroll}) {
      machines.push_back(std::make_unique<Machine>(player->name, player->address));
      network->Attach(*machines.back());
    }
    for (std::size_t i = 0; i < machines.size(); ++i) {
      const Player& self = kEveryone[i];
      // The host's admin service is not on the first port the others try.
      machines[i]->Start(std::string("[Palisard]\nCheckForUpdates=0\nBanStreaming=1\nOverrideHost=198.18.0.100\n") +
                         "AdminPort=" + (i == 0 ? "3063" : "3061") + "\n");
      std::string commands = std::string("own ") + self.id + "\n";
      for (std::size_t slot = 0; slot < 5; ++slot) {
        const Player& p = kEveryone[slot];
        commands += "join " + std::to_string(slot) + " " + p.id + " " + p.address + " 28960 " + p.name + "\n";
      }
      machines[i]->Game(commands + "server 198.18.0.1 28960\n");
    }
  }

  void TearDown() override {
    if (HasFailure()) {
      for (auto& machine : machines) {
        std::printf("===== %s's console =====\n%s\n", machine->name().c_str(), machine->palisard().Output().c_str());
      }
    }
    machines.clear();
    if (service) serviceMachine->network().Inside([&] { service.reset(); });
  }

  Machine& Host() { return *machines[0]; }
  Machine& Alice() { return *machines[1]; }
  Machine& Bob() { return *machines[2]; }
  Machine& Troll() { return *machines[3]; }

  int BanListRequests() {
    int n = 0;
    for (const std::string& request : service->requests()) n += request.find("rosterhall/GetBanList") != std::string::npos;
    return n;
  }

  // Votes through `voter`'s web console until the host records the vote
  // (the voter's copy must have found the host and registered first).
  bool VoteAgainst(Machine& voter, const Player& target) {
    return Eventually([&] {
      return voter.Browse(std::string("/votekick?") + target.id).find("Votekick successful") != std::string::npos;
    }, 20s);
  }

  std::unique_ptr<TestNetwork> network;
  std::unique_ptr<Machine> serviceMachine;
  std::unique_ptr<FakeHttpServer> service;
  std::vector<std::unique_ptr<Machine>> machines;
};

TEST_F(MatchTest, BansVoteKicksReportsAndExitAcrossMachines) {
  for (auto& machine : machines) {
    ASSERT_TRUE(machine->palisard().WaitForOutput("Server set to: Host\n", 15s)) << machine->name();
  }

  // The ban road: the hosting copy blocks the banned player, never itself,
  // with about one request for everyone.
  ASSERT_TRUE(Eventually([&] { return Host().Ruleset().find("ip saddr 198.18.0.5") != std::string::npos; }))
      << Host().Ruleset();
  EXPECT_EQ(Host().Ruleset().find("198.18.0.1 "), std::string::npos);
  EXPECT_EQ(BanListRequests(), 1);
  EXPECT_EQ(Alice().Ruleset().find("198.18.0.5"), std::string::npos) << "only the host blocks";

  // The vote-kick road: the others find the host on 3063 and show kick
  // links; two votes of four registered copies kick.
  ASSERT_TRUE(Eventually([&] { return Alice().Browse("/").find("/votekick?") != std::string::npos; }, 20s));
  ASSERT_TRUE(VoteAgainst(Alice(), kTroll));
  ASSERT_TRUE(VoteAgainst(Bob(), kTroll));
  EXPECT_TRUE(Host().palisard().WaitForOutput(std::string("Kicking ") + kTroll.id + "\n"));
  // The web console is the host's own; its admin port shows the block.
  EXPECT_TRUE(Eventually([&] { return !Troll().CanConnect(kHost.address, 3063); }));
  EXPECT_TRUE(Alice().CanConnect(kHost.address, 3063));
  EXPECT_FALSE(Alice().CanConnect(kHost.address, 3060)) << "the web console listens on loopback only";
  EXPECT_TRUE(Eventually([&] {
    std::string page = Alice().Browse("/");
    return page.find(std::string("/votekick?") + kTroll.id + "\">kick</a> ( 2/2 )") != std::string::npos;
  })) << Alice().Browse("/");

  // The report road: a report on a client copy blocks nobody; on the host
  // it blocks at once.
  EXPECT_NE(Alice().Browse(std::string("/report?") + kBob.id).find("Report successful"), std::string::npos);
  EXPECT_EQ(Alice().Ruleset().find("198.18.0.3"), std::string::npos);
  EXPECT_NE(Host().Browse(std::string("/report?") + kBob.id).find("Report successful"), std::string::npos);
  EXPECT_NE(Host().Ruleset().find("ip saddr 198.18.0.3"), std::string::npos);
  EXPECT_LE(BanListRequests(), 2) << "about one a minute";

  // Exit: the host's blocks go with it.
  Host().palisard().Write("exit\n");
  EXPECT_TRUE(Host().palisard().WaitForOutput("Press enter to exit..\n"));
  EXPECT_EQ(Host().Ruleset(), "");
  Host().palisard().Write("\n");
}

}  // namespace
}  // namespace palisard

namespace palisard {
namespace {

TEST_F(MatchTest, ServerChangeMovesTheMatchToTheNewHost) {
  for (auto& machine : machines) {
    ASSERT_TRUE(machine->palisard().WaitForOutput("Server set to: Host\n", 15s)) << machine->name();
  }
  ASSERT_TRUE(Eventually([&] { return Bob().Browse("/").find("/votekick?") != std::string::npos; }, 20s));
  ASSERT_TRUE(VoteAgainst(Alice(), kTroll));
  ASSERT_TRUE(VoteAgainst(Bob(), kTroll));
  ASSERT_TRUE(Eventually([&] { return !Troll().CanConnect(kHost.address, 3063); }));

  // Alice hosts the next match; her copy's admin service is on 3061.
  for (auto& machine : machines) machine->Game("server 198.18.0.2 28960");
  for (auto& machine : machines) {
    EXPECT_TRUE(machine->palisard().WaitForOutput("Server set to: Alice\n", 15s)) << machine->name();
  }
  EXPECT_TRUE(Eventually([&] {
    std::string page = Bob().Browse("/");
    return page.find("<h4>Alice | Palisard Enabled</h4>") != std::string::npos;
  }, 20s)) << Bob().Browse("/");
  // The old host's blocks do not reach the new match.
  EXPECT_TRUE(Troll().CanConnect(kAlice.address, 3061));
  // Votes now go to Alice's copy, which starts counting afresh.
  EXPECT_NE(Bob().Browse(std::string("/votekick?") + kCheater.id).find("Votekick successful"), std::string::npos);
}

}  // namespace
}  // namespace palisard
