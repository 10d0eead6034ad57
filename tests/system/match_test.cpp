#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "admin/admin_protocol.h"
#include "helpers/fake_admin_host.h"
#include "system/eventually.h"
#include "system/machine.h"
#include "system/service_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// The host, three more players with Palisard, and one (banned) without it.
const Player kHost = {"Host", "76561198000000001", "198.18.0.1"};
const Player kAlice = {"Alice", "76561198000000002", "198.18.0.2"};
const Player kBob = {"Bob", "76561198000000003", "198.18.0.3"};
const Player kTroll = {"Troll", "76561198000000004", "198.18.0.4"};
const Player kCheater = {"Cheater", "76561198000000005", "198.18.0.5"};
const Player kEveryone[] = {kHost, kAlice, kBob, kTroll, kCheater};

class MatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces and nftables";
    network = std::make_unique<TestNetwork>();
    serviceMachine = std::make_unique<Machine>("service", "198.18.0.100");
    network->Attach(*serviceMachine);
    service = std::make_unique<ServiceProcess>(serviceMachine->network(), "0.0.0.0:80");
    ASSERT_TRUE(service->ready()) << service->process().Output();
    ASSERT_EQ(Moderate({"ban", kCheater.id, "--reason", "wallhack"}).rfind("banned ", 0), 0u);

    for (const Player* player : {&kHost, &kAlice, &kBob, &kTroll}) {
      machines.push_back(std::make_unique<Machine>(player->name, player->address));
      network->Attach(*machines.back());
    }
    for (std::size_t i = 0; i < machines.size(); ++i) {
      const Player& self = kEveryone[i];
      // The host's admin service is not on the first port the others try.
      machines[i]->Start(std::string("[Palisard]\nCheckForUpdates=0\nBanStreaming=1\nOverrideHost=198.18.0.100\n") +
                             "AdminPort=" + (i == 0 ? "3063" : "3061") + "\n",
                         i == windowsMachine ? Machine::Build::kWindows : Machine::Build::kLinux);
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
  }

  Machine& Host() { return *machines[0]; }
  Machine& Alice() { return *machines[1]; }
  Machine& Bob() { return *machines[2]; }
  Machine& Troll() { return *machines[3]; }

  // A command of the service's command line, as its moderator types it.
  std::string Moderate(const std::vector<std::string>& args) { return ServiceCommand(service->database(), args); }

  // Votes through `voter`'s web console until the host records the vote
  // (the voter's copy must have found the host and registered first).
  bool VoteAgainst(Machine& voter, const Player& target) {
    return Eventually(
        [&] {
          return voter.Browse(std::string("/votekick?") + target.id).find("Votekick successful") != std::string::npos;
        },
        20s);
  }

  // The machine (index into `machines`) that runs the Windows build.
  std::size_t windowsMachine = static_cast<std::size_t>(-1);
  std::unique_ptr<TestNetwork> network;
  std::unique_ptr<Machine> serviceMachine;
  std::unique_ptr<ServiceProcess> service;
  std::vector<std::unique_ptr<Machine>> machines;
};

TEST_F(MatchTest, BansVoteKicksReportsAndExitAcrossMachines) {
  for (auto& machine : machines) {
    ASSERT_TRUE(machine->palisard().WaitForOutput(machine->Line("Server set to: Host"), 15s)) << machine->name();
  }

  // The ban road: the hosting copy blocks the banned player.
  ASSERT_TRUE(Eventually([&] { return Host().Ruleset().find("ip saddr 198.18.0.5") != std::string::npos; }))
      << Host().Ruleset();
  EXPECT_EQ(Alice().Ruleset().find("198.18.0.5"), std::string::npos) << "only the host blocks";

  // The vote-kick road: the others find the host on 3063 and show kick
  // links; two votes of four registered copies kick.
  ASSERT_TRUE(Eventually([&] { return Alice().Browse("/").find("/votekick?") != std::string::npos; }, 20s));
  // Nobody votes the host out of its own match.
  for (Machine* voter : {&Alice(), &Bob(), &Troll()}) {
    EXPECT_TRUE(Eventually([&] {
      return voter->Browse(std::string("/votekick?") + kHost.id).find("You cannot votekick the host") !=
             std::string::npos;
    })) << voter->name();
  }
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
  EXPECT_EQ(Host().Ruleset().find("198.18.0.1 "), std::string::npos) << "no rule for the host's own address";

  // A vote leaves with its voter: Alice leaves the host's match and her
  // vote goes from the count at once (the threshold depends on whether
  // Troll's copy registered before its kick).
  Host().Game("leave 1");
  EXPECT_TRUE(Eventually(
      [&] {
        return Host().Browse("/").find(std::string("/votekick?") + kTroll.id + "\">kick</a> ( 1/") != std::string::npos;
      },
      2s))
      << Host().Browse("/");
  // The hosting player sees the block and lifts it by hand.
  Host().palisard().Write("blocks\n");
  EXPECT_TRUE(Host().palisard().WaitForOutput(std::string(kTroll.id) + "\t198.18.0.4\tvotes\t"));
  Host().palisard().Write(std::string("unblock ") + kTroll.id + "\n");
  EXPECT_TRUE(Host().palisard().WaitForOutput(Host().Line(
      std::string("Unblocked ") + kTroll.id + " ( 198.18.0.4 ); the votes against the player are withdrawn")));
  EXPECT_EQ(Host().Ruleset().find("198.18.0.4"), std::string::npos);
  std::this_thread::sleep_for(3s);  // thirty passes of the watcher
  EXPECT_EQ(Host().Ruleset().find("198.18.0.4"), std::string::npos) << "no votes left to put it back";

  // The report road: a report on a client copy blocks nobody; on the host,
  // of a player the service holds banned, it blocks at once (the host's
  // last answer, not a minute old, says otherwise).
  EXPECT_NE(Alice().Browse(std::string("/report?") + kBob.id).find("Report successful"), std::string::npos);
  EXPECT_EQ(Alice().Ruleset().find("198.18.0.3"), std::string::npos);
  ASSERT_EQ(Moderate({"ban", kBob.id, "--reason", "reported"}).rfind("banned ", 0), 0u);
  EXPECT_NE(Host().Browse(std::string("/report?") + kBob.id).find("Report successful"), std::string::npos);
  EXPECT_NE(Host().Ruleset().find("ip saddr 198.18.0.3"), std::string::npos);

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
    ASSERT_TRUE(machine->palisard().WaitForOutput(machine->Line("Server set to: Host"), 15s)) << machine->name();
  }
  ASSERT_TRUE(Eventually([&] { return Bob().Browse("/").find("/votekick?") != std::string::npos; }, 20s));
  ASSERT_TRUE(VoteAgainst(Alice(), kTroll));
  ASSERT_TRUE(VoteAgainst(Bob(), kTroll));
  ASSERT_TRUE(Eventually([&] { return !Troll().CanConnect(kHost.address, 3063); }));

  // Alice hosts the next match; her copy's admin service is on 3061.
  for (auto& machine : machines) machine->Game("server 198.18.0.2 28960");
  for (auto& machine : machines) {
    EXPECT_TRUE(machine->palisard().WaitForOutput(machine->Line("Server set to: Alice"), 15s)) << machine->name();
  }
  EXPECT_TRUE(Eventually(
      [&] {
        std::string page = Bob().Browse("/");
        return page.find("<h4><bdi>Alice</bdi> | Palisard Enabled</h4>") != std::string::npos;
      },
      20s))
      << Bob().Browse("/");
  // The old host's blocks do not reach the new match, and go once it no
  // longer hosts.
  EXPECT_TRUE(Troll().CanConnect(kAlice.address, 3061));
  EXPECT_TRUE(Eventually([&] { return Troll().CanConnect(kHost.address, 3063); })) << Host().Ruleset();
  // Votes now go to Alice's copy, which starts counting afresh.
  EXPECT_NE(Bob().Browse(std::string("/votekick?") + kCheater.id).find("Votekick successful"), std::string::npos);
}

}  // namespace
}  // namespace palisard

namespace palisard {
namespace {

// Alice's machine runs the Windows build under Wine: both builds speak the
// same protocol, each way round.
class MixedMatchTest : public MatchTest {
 protected:
  void SetUp() override {
    const std::string windows = PALISARD_WINDOWS_BUILD_DIR;
    for (const char* file :
         {"/src/palisard.exe", "/tools/game-sim/iw5mp.exe", "/tools/fwpuclnt-stand-in/fwpuclnt.dll"}) {
      if (!std::filesystem::exists(windows + file)) GTEST_SKIP() << "the Windows build is not there";
    }
    windowsMachine = 1;
    MatchTest::SetUp();
  }
};

TEST_F(MixedMatchTest, LinuxHostKicksOnAWindowsVoteAndAWindowsHostOnLinuxVotes) {
  for (auto& machine : machines) {
    ASSERT_TRUE(machine->palisard().WaitForOutput(machine->Line("Server set to: Host"), 30s)) << machine->name();
  }
  // Four copies registered: two votes kick, so Alice's must count.
  ASSERT_TRUE(Eventually([&] { return Alice().Browse("/").find("/votekick?") != std::string::npos; }, 20s));
  ASSERT_TRUE(VoteAgainst(Alice(), kTroll));
  ASSERT_TRUE(VoteAgainst(Bob(), kTroll));
  EXPECT_TRUE(Host().palisard().WaitForOutput(std::string("Kicking ") + kTroll.id + "\n"));
  EXPECT_TRUE(Eventually([&] { return Host().Ruleset().find("ip saddr 198.18.0.4 ") != std::string::npos; }))
      << Host().Ruleset();

  // Alice hosts the next match on the Windows build.
  for (auto& machine : machines) machine->Game("server 198.18.0.2 28960");
  for (auto& machine : machines) {
    EXPECT_TRUE(machine->palisard().WaitForOutput(machine->Line("Server set to: Alice"), 15s)) << machine->name();
  }
  ASSERT_TRUE(Eventually(
      [&] { return Bob().Browse("/").find("<h4><bdi>Alice</bdi> | Palisard Enabled</h4>") != std::string::npos; }, 20s))
      << Bob().Browse("/");
  // Not the cheater: his ban has blocked him already, and a vote that makes
  // no block is no kick.
  ASSERT_TRUE(VoteAgainst(Bob(), kTroll));
  ASSERT_TRUE(VoteAgainst(Host(), kTroll));
  EXPECT_TRUE(Alice().palisard().WaitForOutput(Alice().Line(std::string("Kicking ") + kTroll.id)))
      << Alice().palisard().Output();
  EXPECT_NE(Alice().FilterCalls().find("address=198.18.0.4 mask=255.255.255.255 action=block sd=null -> 0 "),
            std::string::npos)
      << Alice().FilterCalls();
}

// A client copy whose host serves on 3063: the host's service goes away for
// six seconds and comes back on the same port; the copy finds it and
// registers again within five seconds.
TEST(HostLinkTest, ClientRegistersAgainWhenTheHostsServiceComesBack) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces and nftables";
  TestNetwork network;
  Machine hostMachine("host", kHost.address);
  Machine alice("Alice", kAlice.address);
  network.Attach(hostMachine);
  network.Attach(alice);
  auto serve = [&] {
    return hostMachine.network().Inside([] {
      return std::make_unique<FakeAdminHost>(
          Ipv4Endpoint{0xC6120001, 3063},
          [](uint16_t type, const std::vector<uint8_t>& payload) -> std::vector<uint8_t> {
            if (type == kAdminRegister) return EncodeRegisterReply(77);
            if (type == kAdminQuery && payload[0] == kAdminPing) return EncodePingReply();
            return {};
          });
    });
  };
  auto registrations = [](const FakeAdminHost& host) {
    const std::vector<uint16_t> types = host.received();
    return std::count(types.begin(), types.end(), kAdminRegister);
  };
  auto stop = [&](std::unique_ptr<FakeAdminHost>& host) { hostMachine.network().Inside([&] { host.reset(); }); };

  std::unique_ptr<FakeAdminHost> service = serve();
  alice.Start("[Palisard]\nCheckForUpdates=0\nBanStreaming=0\n");
  alice.Game(std::string("own ") + kAlice.id + "\njoin 0 " + kHost.id + " " + kHost.address + " 28960 Host\njoin 1 " +
             kAlice.id + " " + kAlice.address + " 28960 Alice\nserver " + kHost.address + " 28960\n");
  EXPECT_TRUE(Eventually([&] { return registrations(*service) > 0; }, 20s)) << alice.palisard().Output();

  stop(service);
  std::this_thread::sleep_for(6s);
  service = serve();
  const auto back = std::chrono::steady_clock::now();
  EXPECT_TRUE(Eventually([&] { return registrations(*service) > 0; }, 15s));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - back);
  std::printf("registered again %lld ms after the host's service came back\n", static_cast<long long>(took.count()));
  EXPECT_LE(took, 5s);
  stop(service);
}

}  // namespace
}  // namespace palisard
