#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/version.h"
#include "helpers/http_client.h"
#include "helpers/temp_dir.h"
#include "soap/soap_codec.h"
#include "system/eventually.h"
#include "system/game_sim_process.h"
#include "system/machine.h"
#include "system/nginx_process.h"
#include "system/palisard_process.h"
#include "system/pid_namespace.h"
#include "system/postgres_cluster.h"
#include "system/service_load.h"
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

// nginx on port 80, spreading requests over two instances as the README's
// load balancer does, asking the other again as the README says.
constexpr const char* kNginxServers = R"(upstream service { server 127.0.0.1:8081; server 127.0.0.1:8082; }
  server { listen 80; location / { proxy_pass http://service; proxy_set_header Host $http_host;
    proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;
    proxy_next_upstream error timeout non_idempotent; } })";

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
    const std::string feedKey = FeedFile("feed.key");
    options = {"--latest-version", kProgramVersion, "--download-url", "https://example.org/palisard/", "--feed-key",
               feedKey};
    ASSERT_EQ(std::system((PALISARD_SERVICE_EXE " feed key --feed-key " + feedKey + " >/dev/null").c_str()), 0);
    if (GetParam() == Deployment::kSqlite) {
      services.push_back(std::make_unique<ServiceProcess>(serviceMachine->network(), "0.0.0.0:80", "", options));
    } else {
      // A server of the test's own, which it may restart and hang.
      cluster = std::make_unique<PostgresCluster>();
      ASSERT_TRUE(cluster->ready()) << "no PostgreSQL server: scripts/install-deps.sh test installs it";
      postgres = cluster->NewDatabase("community");
      options.insert(options.end(), {"--trusted-proxy", "127.0.0.1"});
      for (const char* listen : {"127.0.0.1:8081", "127.0.0.1:8082"}) services.push_back(Instance(listen));
      nginx = std::make_unique<NginxProcess>(serviceMachine->network(), kNginxServers);
    }
    for (auto& service : services) ASSERT_TRUE(service->ready()) << service->process().Output();
    ASSERT_TRUE(Eventually([&] { return serviceMachine->CanConnect("127.0.0.1", 80); }))
        << (nginx ? nginx->process().Output() : "");
    // The load's source networks (ServiceLoad).
    ASSERT_EQ(serviceMachine->network().Run("ip route add local 10.0.0.0/8 dev lo"), 0);
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

  // An instance behind nginx, on the test's PostgreSQL server.
  std::unique_ptr<ServiceProcess> Instance(const char* listen) {
    return std::make_unique<ServiceProcess>(serviceMachine->network(), listen, postgres, options);
  }
  std::string Moderate(const std::vector<std::string>& args) { return ServiceCommand(database(), args); }
  std::string FeedFile(const std::string& name) { return (feedDir.path() / name).string(); }
  void FillTheDisk();
  void FaultTheServerAndInstances();
  const std::string& database() { return services.back()->database(); }
  int Connections() {
    const std::string counter = serviceMachine->Ruleset();
    const std::size_t packets = counter.find("packets ");
    return packets == std::string::npos ? -1 : std::atoi(counter.c_str() + packets + 8);
  }

  std::unique_ptr<TestNetwork> network;
  std::unique_ptr<Machine> serviceMachine, hostMachine, aliceMachine;
  std::unique_ptr<PostgresCluster> cluster;
  std::string postgres;  // the database on it
  std::vector<std::string> options;
  std::vector<std::unique_ptr<ServiceProcess>> services;
  std::unique_ptr<NginxProcess> nginx;
  std::unique_ptr<PlayerCopy> host, alice;
  TempDir feedDir;  // the feed's key, and a page fetched as a follower would
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

  // The shared feed's first page, which minisign checks with the key that
  // `feed show` prints, and refuses once one byte of it changes.
  std::string key =
      serviceMachine->network().Capture(PALISARD_SERVICE_EXE " feed show --feed-key " + FeedFile("feed.key"));
  key.erase(key.find_last_not_of('\n') + 1);
  const std::string fetch = "curl -sf -o " + FeedFile("page") + " http://127.0.0.1/feed/v1/pages/0 && curl -sf -o " +
                            FeedFile("page.minisig") + " http://127.0.0.1/feed/v1/pages/0.minisig";
  ASSERT_EQ(serviceMachine->network().Run(fetch), 0);
  const std::string verify = "minisign -Vq -m " + FeedFile("page") + " -x " + FeedFile("page.minisig") + " -P " + key;
  EXPECT_EQ(std::system(verify.c_str()), 0) << key;
  ASSERT_EQ(std::system(("sed -i s/aimbot/aimbou/ " + FeedFile("page")).c_str()), 0);
  EXPECT_NE(std::system((verify + " 2>/dev/null").c_str()), 0);

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

  // A client that a SOAP toolkit built from the service's WSDL, and a
  // fault it reads as one.
  EXPECT_EQ(aliceMachine->network().Capture(
                std::string("/usr/bin/python3 " PALISARD_SYSTEM_TEST_DIR "/zeep_ban_list.py http://") +
                kServiceAddress + " " + kCheater.id + " " + kClean.id + " 2>&1"),
            std::string(kCheater.id) + " True 0\n" + kClean.id + " False 1\nsoap:MustUnderstand\n");

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

// What the players' copies saw in a stretch of the load.
struct Seen {
  std::size_t exchanges = 0, faults = 0, unanswered = 0, other = 0;  // other: neither an answer nor a fault
  std::chrono::milliseconds slowest{0};
  std::chrono::steady_clock::time_point lastFault;  // when the last fault reached its client
};

Seen Summary(const std::vector<LoadExchange>& exchanges) {
  Seen seen;
  for (const LoadExchange& exchange : exchanges) {
    ++seen.exchanges;
    seen.slowest =
        std::max(seen.slowest, std::chrono::duration_cast<std::chrono::milliseconds>(exchange.end - exchange.start));
    if (exchange.status == 500) seen.lastFault = std::max(seen.lastFault, exchange.end);
    seen.faults += exchange.status == 500;
    seen.unanswered += exchange.status == 0;
    seen.other += exchange.status != 0 && exchange.status != 200 && exchange.status != 500;
  }
  return seen;
}

double Milliseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The disk under the SQLite file fills up; when some room comes back, so do
// the writes, for good: the write-ahead log does not take it all again.
void CommunityServiceTest::FillTheDisk() {
  TempDir disk;
  ASSERT_EQ(std::system(("mount -t tmpfs -o size=2m palisard-test " + disk.path().string()).c_str()), 0);
  struct Unmount {
    std::string path;
    ~Unmount() { (void)std::system(("umount -l " + path).c_str()); }
  } unmount{disk.path().string()};
  services.clear();
  services.push_back(std::make_unique<ServiceProcess>(serviceMachine->network(), "0.0.0.0:80",
                                                      (disk.path() / "palisard-service.db").string(), options));
  ASSERT_TRUE(services[0]->ready()) << services[0]->process().Output();
  // The disk nearly full, 512 KiB of it taken by a file that goes later.
  const std::filesystem::path spare = disk.Write("spare", std::string(512 * 1024, 'x'));
  disk.Write("filler", std::string(std::filesystem::space(disk.path()).available - 64 * 1024, 'x'));
  ServiceLoad load(serviceMachine->network());
  int written = 0;
  serviceMachine->network().Inside([&] {
    while (written < 2000 && load.Exchange(80, true).answered()) ++written;
  });
  ASSERT_LT(written, 2000) << "the disk never filled";
  EXPECT_TRUE(services[0]->process().WaitForOutput("store calls fail: script: database or disk is full", 2s))
      << services[0]->process().Output();
  std::filesystem::remove(spare);
  int after = 0;
  serviceMachine->network().Inside([&] {
    for (int i = 0; i < 100; ++i) after += load.Exchange(80, true).answered();
  });
  EXPECT_EQ(after, 100);
  std::printf("the disk was full after %d reports; once 512 KiB came back, %d of 100 more written\n", written, after);
}

// Two instances behind nginx under a load of hosts' ban requests and
// players' reports, while their PostgreSQL server restarts, hangs and runs
// out of connections, and while an instance is stopped and another killed.
void CommunityServiceTest::FaultTheServerAndInstances() {
  using Clock = std::chrono::steady_clock;
  ServiceLoad load(serviceMachine->network());
  load.Start(80);
  std::this_thread::sleep_for(500ms);

  // Restarted: faults while it is away, and none soon after it is back.
  auto start = Clock::now();
  ASSERT_TRUE(cluster->Restart(100));
  const auto back = Clock::now();
  std::this_thread::sleep_for(1500ms);
  Seen seen = Summary(load.Between(start, Clock::now()));
  EXPECT_EQ(seen.unanswered + seen.other, 0u);
  if (seen.faults > 0) {
    EXPECT_LE(seen.lastFault - back, 500ms);
  }
  std::printf("restart: %zu exchanges, %zu faults, the last %.0f ms after the database was back\n", seen.exchanges,
              seen.faults, seen.faults > 0 ? Milliseconds(seen.lastFault - back) : 0.0);

  // Hung for 8 s: every exchange answered within the store deadline, 3 s,
  // before the players' 5 s, and the log says so.
  start = Clock::now();
  cluster->Freeze();
  std::this_thread::sleep_for(8s);
  cluster->Thaw();
  const auto thawed = Clock::now();
  std::this_thread::sleep_for(3500ms);
  seen = Summary(load.Between(start, thawed));
  EXPECT_EQ(seen.unanswered + seen.other, 0u);
  EXPECT_LT(seen.slowest, 3500ms);
  for (auto& service : services) {
    EXPECT_THAT(service->process().Output(), HasSubstr("store calls fail: no answer within 3 s"));
  }
  std::printf("hung 8 s: %zu exchanges, %zu faults, the slowest in %.0f ms\n", seen.exchanges, seen.faults,
              Milliseconds(seen.slowest));

  // Killed with calls in flight (held by the database for a moment): nginx
  // asks the other instance, and no client sees a 502.
  start = Clock::now();
  cluster->Freeze();
  std::this_thread::sleep_for(300ms);
  services[1]->process().Signal(SIGKILL);
  ASSERT_TRUE(services[1]->process().WaitForExit());
  cluster->Thaw();
  std::this_thread::sleep_for(1s);
  seen = Summary(load.Between(start, Clock::now()));
  EXPECT_EQ(seen.unanswered + seen.other, 0u);
  std::ifstream nginxLog(nginx->errorLog());
  int inFlight = 0;  // cut off by the kill, and asked again of the other instance
  for (std::string line; std::getline(nginxLog, line);)
    inFlight += line.find("reading response header") != std::string::npos;
  EXPECT_GT(inFlight, 0);
  std::printf("killed: %zu exchanges, %zu faults, %d of them in flight at the kill\n", seen.exchanges, seen.faults,
              inFlight);
  services[1] = Instance("127.0.0.1:8082");
  ASSERT_TRUE(services[1]->ready());

  // Stopped with requests half-sent: the connection that sent nothing
  // closes at once, no new one is taken, and each request begun is
  // answered; one never finished holds the instance until a second signal.
  load.Stop();
  std::vector<uint64_t> halfSent;
  Socket held;
  serviceMachine->network().Inside([&] {
    std::vector<std::pair<Socket, std::string>> begun;  // and the rest of each request
    for (uint64_t reporter = 76561198300000000ULL; begun.size() < 4; ++reporter) {
      const std::string request = ReportRequest(reporter, reporter + 100);
      Socket socket = ConnectToLoopback(8081);
      ASSERT_TRUE(SendAll(socket.get(), request.data(), request.size() - 100).ok());
      begun.emplace_back(std::move(socket), request.substr(request.size() - 100));
      halfSent.push_back(reporter);
    }
    held = std::move(begun.back().first);
    begun.pop_back();
    halfSent.pop_back();
    Socket idle = ConnectToLoopback(8081);
    std::this_thread::sleep_for(200ms);
    const auto signalled = Clock::now();
    services[0]->process().Signal(SIGTERM);
    EXPECT_EQ(ReadUntilClosed(idle.get(), 3000), "");
    EXPECT_LT(Clock::now() - signalled, 1s);
    EXPECT_FALSE(ConnectToLoopback(8081).valid());
    for (auto& [socket, rest] : begun) {
      ASSERT_TRUE(SendAll(socket.get(), rest.data(), rest.size()).ok());
      const std::string answer = ReadUntilClosed(socket.get());
      EXPECT_THAT(answer, StartsWith("HTTP/1.1 200"));
      EXPECT_TRUE(ParseAddInfractionResult(answer).has_value()) << answer;
    }
  });
  EXPECT_FALSE(services[0]->process().WaitForExit(500ms));
  services[0]->process().Signal(SIGTERM);
  std::optional<int> exit = services[0]->process().WaitForExit(1s);
  EXPECT_TRUE(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 1) << services[0]->process().Output();

  // Room for 8 connections: the instance alone takes its 6; another started
  // beside it serves every request with the 2 left, says so, and is whole
  // once the first stops.
  ASSERT_TRUE(cluster->Restart(8));
  load.Start(8082);
  EXPECT_TRUE(Eventually([&] {
    return cluster->Query(postgres, "SELECT count(*) FROM pg_stat_activity WHERE datname = 'community'") == "7\n";
  })) << "the instance holds 6, and psql one";
  load.Stop();
  services[0] = Instance("127.0.0.1:8081");
  ASSERT_TRUE(services[0]->ready());
  EXPECT_TRUE(services[0]->process().WaitForOutput("palisard-service: serving with 2 of 6 database connections: "))
      << services[0]->process().Output();
  start = Clock::now();
  load.Start(8081);
  std::this_thread::sleep_for(1500ms);
  load.Stop();
  seen = Summary(load.Between(start, Clock::now()));
  EXPECT_EQ(seen.faults + seen.unanswered + seen.other, 0u);
  std::printf("short: %zu exchanges on 2 of 6 connections, %zu faults, the slowest in %.0f ms\n", seen.exchanges,
              seen.faults, Milliseconds(seen.slowest));
  services[1]->process().Signal(SIGTERM);
  exit = services[1]->process().WaitForExit();
  EXPECT_TRUE(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0) << services[1]->process().Output();
  EXPECT_THAT(services[1]->process().Output(), HasSubstr("palisard-service: stopped\n"));
  EXPECT_TRUE(
      services[0]->process().WaitForOutput("palisard-service: serving with all 6 database connections again", 5s));

  // Nothing acknowledged is missing.
  std::set<uint64_t> acknowledged = load.Acknowledged();
  acknowledged.insert(halfSent.begin(), halfSent.end());
  std::istringstream rows(cluster->Query(postgres, "SELECT reporter_id FROM reports"));
  std::set<uint64_t> stored;
  for (uint64_t reporter; rows >> reporter;) stored.insert(reporter);
  std::size_t missing = 0;
  for (uint64_t reporter : acknowledged) missing += stored.count(reporter) == 0;
  EXPECT_EQ(missing, 0u);
  std::printf("acknowledged reports found afterwards: %zu of %zu\n", acknowledged.size() - missing,
              acknowledged.size());
}

// Each deployment's own faults of the outside world.
TEST_P(CommunityServiceTest, PlayersAreAnsweredInTimeThroughFaultsAndNothingAcknowledgedIsLost) {
  if (GetParam() == Deployment::kSqlite) return FillTheDisk();
  FaultTheServerAndInstances();
}

INSTANTIATE_TEST_SUITE_P(Deployments, CommunityServiceTest,
                         ::testing::Values(Deployment::kSqlite, Deployment::kPostgresBehindNginx),
                         [](const ::testing::TestParamInfo<Deployment>& info) {
                           return info.param == Deployment::kSqlite ? "Sqlite" : "PostgresBehindNginx";
                         });

}  // namespace
}  // namespace palisard
