#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/version.h"
#include "system/eventually.h"
#include "system/game_sim_process.h"
#include "system/machine.h"
#include "system/nginx_process.h"
#include "system/palisard_process.h"
#include "system/pid_namespace.h"
#include "system/service_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The host and Alice run Palisard; the cheater and the clean player do not.
const Player kHost = {"Host", "76561198000000001", "198.18.0.1"};
const Player kAlice = {"Alice", "76561198000000002", "198.18.0.2"};
const Player kCheater = {"Cheater", "76561198000000005", "198.18.0.5"};
const Player kClean = {"Clean", "76561198000000006", "198.18.0.6"};
const Player kEveryone[] = {kHost, kAlice, kCheater, kClean};
constexpr const char* kServiceAddress = "198.18.0.100";

// A player's copy of Palisard on its own machine, beside a game stand-in
// playing the host's match, asking the community's service.
class PlayerCopy {
 public:
  PlayerCopy(Machine& machine, const Player& self, bool checkVersion) : machine_(machine), pids_(machine.network()) {
    game_ = std::make_unique<GameSim>(pids_);
    std::vector<std::string> commands = {std::string("own ") + self.id, "server 198.18.0.1 28960"};
    for (std::size_t slot = 0; slot < std::size(kEveryone); ++slot) {
      const Player& p = kEveryone[slot];
      commands.push_back("join " + std::to_string(slot) + " " + p.id + " " + p.address + " 28960 " + p.name);
    }
    for (const std::string& command : commands) ready_ = ready_ && game_->ready() && game_->Do(command);
    settings_ = std::string("[Palisard]\nBanStreaming=1\nOverrideHost=") + kServiceAddress +
                "\nCheckForUpdates=" + (checkVersion ? "1" : "0") + "\n";
  }

  // Starts the copy, or a new one in place of the running one.
  bool Start() {
    palisard_.reset();
    palisard_ = std::make_unique<PalisardProcess>(machine_.network(), settings_, &pids_);
    return ready_ && palisard_->process().WaitForOutput("Server set to: Host\n", 15s);
  }
  ChildProcess& console() { return palisard_->process(); }
  Machine& machine() { return machine_; }
  bool Blocks(const Player& player) {
    return machine_.Ruleset().find(std::string("ip saddr ") + player.address + " ") != std::string::npos;
  }

 private:
  Machine& machine_;
  PidNamespace pids_;
  std::unique_ptr<GameSim> game_;
  std::string settings_;
  bool ready_ = true;
  std::unique_ptr<PalisardProcess> palisard_;
};

enum class Deployment {
  kSqlite,              // one instance on port 80 with its SQLite file
  kPostgresBehindNginx  // two instances sharing a PostgreSQL database, nginx on port 80 in front
};

// nginx on port 80, spreading requests over two instances as a community's
// load balancer does.
constexpr const char* kNginxServers = R"(upstream service { server 127.0.0.1:8081; server 127.0.0.1:8082; }
  server { listen 80; location / { proxy_pass http://service; proxy_set_header Host $http_host;
    proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for; } })";

// The community's service as players' copies meet it: on its own machine
// of the test network, named by OverrideHost, run by a moderator through
// its command line.
class CommunityServiceTest : public ::testing::TestWithParam<Deployment> {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces and nftables";
    network = std::make_unique<TestNetwork>();
    serviceMachine = std::make_unique<Machine>("service", kServiceAddress);
    hostMachine = std::make_unique<Machine>("host", kHost.address);
    aliceMachine = std::make_unique<Machine>("alice", kAlice.address);
    for (Machine* machine : {serviceMachine.get(), hostMachine.get(), aliceMachine.get()}) network->Attach(*machine);
    std::vector<std::string> options = {"--latest-version", kProgramVersion, "--download-url",
                                        "https://example.org/palisard/"};
    if (GetParam() == Deployment::kSqlite) {
      services.push_back(std::make_unique<ServiceProcess>(serviceMachine->network(), "0.0.0.0:80", "", options));
    } else {
      const std::string database = NewPostgresDatabase();
      if (database.empty()) GTEST_SKIP() << "no PostgreSQL cluster: run under tests/with-postgres.sh";
      options.insert(options.end(), {"--trusted-proxy", "127.0.0.1"});
      for (const char* listen : {"127.0.0.1:8081", "127.0.0.1:8082"}) {
        services.push_back(std::make_unique<ServiceProcess>(serviceMachine->network(), listen, database, options));
      }
      nginx = std::make_unique<NginxProcess>(serviceMachine->network(), kNginxServers);
    }
    for (auto& service : services) ASSERT_TRUE(service->ready()) << service->process().Output();
    ASSERT_TRUE(Eventually([&] { return serviceMachine->CanConnect("127.0.0.1", 80); }))
        << (nginx ? nginx->process().Output() : "");
    // Counts the connections to port 80, which the clients open one a request.
    ASSERT_EQ(serviceMachine->network().Run("nft add table ip count && nft \"add chain ip count in { type filter "
                                            "hook input priority 0; }\" && nft add rule ip count in tcp dport 80 "
                                            "tcp flags syn counter"),
              0);
  }

  void TearDown() override {
    if (!HasFailure()) return;
    for (auto& service : services) std::printf("===== service =====\n%s\n", service->process().Output().c_str());
    for (PlayerCopy* copy : {host.get(), alice.get()}) {
      if (copy != nullptr) std::printf("===== copy =====\n%s\n", copy->console().Output().c_str());
    }
  }

  std::string Moderate(const std::vector<std::string>& args) { return ServiceCommand(database(), args); }
  const std::string& database() { return services.back()->database(); }
  int Connections() {
    const std::string counter = serviceMachine->Ruleset();
    const std::size_t packets = counter.find("packets ");
    return packets == std::string::npos ? -1 : std::atoi(counter.c_str() + packets + 8);
  }

  std::unique_ptr<TestNetwork> network;
  std::unique_ptr<Machine> serviceMachine, hostMachine, aliceMachine;
  std::vector<std::unique_ptr<ServiceProcess>> services;
  std::unique_ptr<NginxProcess> nginx;
  std::unique_ptr<PlayerCopy> host, alice;
};

TEST_P(CommunityServiceTest, BansReportsAndLiftsReachTheHostsFirewall) {
  // The moderator bans the cheater, and the hosting player, whom his own
  // copy must never block.
  ASSERT_THAT(Moderate({"ban", kCheater.id, "--reason", "aimbot", "--for", "7d"}), StartsWith("banned "));
  ASSERT_THAT(Moderate({"ban", kHost.id, "--reason", "his own ban"}), StartsWith("banned "));
  host = std::make_unique<PlayerCopy>(*hostMachine, kHost, true);
  alice = std::make_unique<PlayerCopy>(*aliceMachine, kAlice, false);
  ASSERT_TRUE(host->Start());
  ASSERT_TRUE(alice->Start());
  EXPECT_TRUE(host->console().WaitForOutput("Version is up to date..\n"));

  // The host blocks the banned player from its first ban request on, with
  // one request for everyone, not one a pass.
  ASSERT_TRUE(Eventually([&] { return host->Blocks(kCheater); })) << host->machine().Ruleset();
  const int connections = Connections();
  std::this_thread::sleep_for(1s);  // ten passes of the watcher
  EXPECT_EQ(Connections(), connections);
  EXPECT_FALSE(host->Blocks(kHost));
  EXPECT_FALSE(host->Blocks(kClean));

  if (GetParam() == Deployment::kPostgresBehindNginx) {
    // One instance dies; the other answers all that follows.
    services[0]->process().Signal(SIGKILL);
    ASSERT_TRUE(services[0]->process().WaitForExit());
  }

  // Reports of the clean player, from Alice's console and from the host's:
  // both go to one case, and a report alone bans nobody, so the host, which
  // would block at once on a true answer, blocks nobody either.
  EXPECT_THAT(alice->machine().Browse(std::string("/report?") + kClean.id), HasSubstr("Report successful"));
  EXPECT_THAT(host->machine().Browse(std::string("/report?") + kClean.id), HasSubstr("Report successful"));
  EXPECT_FALSE(host->Blocks(kClean));
  EXPECT_FALSE(alice->Blocks(kClean));
  EXPECT_THAT(Moderate({"cases"}),
              HasSubstr(std::string("player ") + kClean.id + "  1 network, 2 reports, 2 reporters"));
  EXPECT_THAT(Moderate({"show", kClean.id}), HasSubstr("from 198.18.0.0/24")) << "the players' network, not nginx's";

  // A client that a SOAP toolkit built from the service's WSDL.
  EXPECT_EQ(aliceMachine->network().Capture(
                std::string("/usr/bin/python3 " PALISARD_SYSTEM_TEST_DIR "/zeep_ban_list.py http://") +
                kServiceAddress + " " + kCheater.id + " " + kClean.id + " 2>&1"),
            std::string(kCheater.id) + " True 0\n" + kClean.id + " False 1\n");

  // The cheater's ban is lifted and the clean player banned, which closes
  // his case. A new copy on the host asks at once (the running one would
  // keep its answers about a minute, and a ban's block five): the cheater
  // is back in, and the same answer blocks the other.
  EXPECT_THAT(Moderate({"lift", kCheater.id, "--reason", "appeal accepted"}), HasSubstr("[lifted "));
  EXPECT_THAT(Moderate({"ban", kClean.id, "--reason", "reported twice"}), StartsWith("banned "));
  EXPECT_EQ(Moderate({"cases"}), "");
  ASSERT_TRUE(host->Start());
  EXPECT_TRUE(Eventually([&] { return host->Blocks(kClean); })) << host->machine().Ruleset();
  EXPECT_FALSE(host->Blocks(kCheater));
  EXPECT_THAT(host->console().Output(), Not(HasSubstr("Couldn't find Ban server")));

  // kill -9 amid a burst of bans, the service with them: every ban the
  // command line reported as made is kept.
  std::vector<std::unique_ptr<ChildProcess>> burst;
  for (int i = 0; i < 12; ++i) {
    burst.push_back(
        StartServiceCommand(database(), {"ban", std::to_string(76561198000001000 + i), "--reason", "burst"}));
    std::this_thread::sleep_for(20ms);  // each at another stage when the kill comes
  }
  ASSERT_TRUE(burst[0]->WaitForOutput("banned ")) << burst[0]->Output();  // the others are under way
  for (auto& service : services) service->process().Signal(SIGKILL);
  for (auto& ban : burst) ban->Signal(SIGKILL);
  const std::string kept = Moderate({"bans"});
  int reported = 0;
  for (int i = 0; i < 12; ++i) {
    const std::string line = "banned " + std::to_string(76561198000001000 + i) + "  permanent";
    if (burst[i]->WholeOutput().find(line) == std::string::npos) continue;
    ++reported;
    EXPECT_THAT(kept, HasSubstr(line.substr(7))) << "reported as made";
  }
  std::printf("bans reported as made before the kill: %d of 12\n", reported);
}

INSTANTIATE_TEST_SUITE_P(Deployments, CommunityServiceTest,
                         ::testing::Values(Deployment::kSqlite, Deployment::kPostgresBehindNginx),
                         [](const ::testing::TestParamInfo<Deployment>& info) {
                           return info.param == Deployment::kSqlite ? "Sqlite" : "PostgresBehindNginx";
                         });

}  // namespace
}  // namespace palisard
