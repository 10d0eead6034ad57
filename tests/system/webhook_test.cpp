#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helpers/http_client.h"
#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "soap/soap_codec.h"
#include "system/child_process.h"
#include "system/eventually.h"
#include "system/postgres_cluster.h"
#include "system/service_load.h"
#include "system/service_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint64_t kPlayer = 76561198200000001ULL;
constexpr uint16_t kStandardPort = 9443;
constexpr uint16_t kDiscordPort = 9444;

// A CA of the test's own, and the receivers' certificate from it for
// 127.0.0.1: ca.pem, receiver.pem, receiver.key in `dir`.
bool MakeCertificates(const TempDir& dir) {
  dir.Write("san.ext", "subjectAltName=IP:127.0.0.1\n");
  const std::string in = "cd '" + dir.path().string() + "' && ";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
  return std::system((in + "openssl req -x509" + key +
                      " -keyout ca.key -out ca.pem -days 2 -subj /CN=palisard-test-ca"
                      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
                      " 2>/dev/null && openssl req" +
                      key + " -keyout receiver.key -out receiver.csr -subj /CN=127.0.0.1 2>/dev/null &&" +
                      " openssl x509 -req -in receiver.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                      " -out receiver.pem -days 2 -extfile san.ext 2>/dev/null")
                         .c_str()) == 0;
}

// tests/node/webhook_receiver.mjs on 127.0.0.1:PORT in `machine`.
class Receiver {
 public:
  Receiver(const NetworkNamespace& machine, const TempDir& dir, uint16_t port, const std::string& format,
           const std::string& secret = "") {
    const std::string cert = (dir.path() / "receiver.pem").string(), key = (dir.path() / "receiver.key").string();
    std::vector<std::string> argv = {"/usr/bin/ip",
                                     "netns",
                                     "exec",
                                     machine.name(),
                                     "node",
                                     PALISARD_SYSTEM_TEST_DIR "/../node/webhook_receiver.mjs",
                                     std::to_string(port),
                                     cert,
                                     key,
                                     format};
    if (!secret.empty()) argv.push_back(secret);
    process_ = std::make_unique<ChildProcess>(argv, dir.path());
  }
  bool ready() { return process_->WaitForOutput("listening\n"); }
  ChildProcess& process() { return *process_; }
  // The lines it printed that begin with `word`, without it.
  std::vector<std::string> Lines(const std::string& word) const {
    std::vector<std::string> lines;
    std::istringstream output(process_->Output());
    for (std::string line; std::getline(output, line);) {
      if (line.rfind(word + " ", 0) == 0) lines.push_back(line.substr(word.size() + 1));
    }
    return lines;
  }
  bool Took(const std::string& type) const {
    for (const std::string& line : Lines("standard")) {
      if (line.ends_with(" " + type)) return true;
    }
    return false;
  }

 private:
  std::unique_ptr<ChildProcess> process_;
};

// A player's copy reporting `reported` from the source network of `from`.
bool Report(const NetworkNamespace& machine, uint16_t port, uint64_t reporter, uint32_t from) {
  return machine.Inside([&] {
    const std::string request = ReportRequest(reporter, kPlayer);
    Socket socket = ConnectToLoopback(port, from);
    if (!socket.valid() || !SendAll(socket.get(), request.data(), request.size()).ok()) return false;
    return ParseAddInfractionResult(ReadUntilClosed(socket.get())).has_value();
  });
}

// The Discord messages the stand-in took, each an embed whose footer names
// the event's id.
std::vector<nlohmann::json> DiscordMessages(const Receiver& discord) {
  std::vector<nlohmann::json> messages;
  for (const std::string& line : discord.Lines("discord")) messages.push_back(nlohmann::json::parse(line));
  return messages;
}

std::string EventIdOf(const nlohmann::json& message) {
  std::smatch id;
  const std::string footer = message["embeds"][0]["footer"]["text"].get<std::string>();
  return std::regex_search(footer, id, std::regex("msg_[0-9a-f]+")) ? id.str() : "";
}

std::vector<std::unique_ptr<ServiceProcess>> Instances(const NetworkNamespace& machine, const std::string& database,
                                                       const std::vector<std::string>& options) {
  std::vector<std::unique_ptr<ServiceProcess>> instances;
  for (const char* listen : {"127.0.0.1:8081", "127.0.0.1:8082"})
    instances.push_back(std::make_unique<ServiceProcess>(machine, listen, database, options));
  return instances;
}

// Two instances share a PostgreSQL database, and both deliver: a receiver
// that verifies signatures with a Standard Webhooks library, and a
// stand-in for Discord that asks once to be called later.
TEST(WebhookTest, EventsReachEachReceiverOnceSignedThroughARateLimitAndARestart) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for namespaces";
  PostgresCluster cluster;
  ASSERT_TRUE(cluster.ready()) << "no PostgreSQL server: scripts/install-deps.sh test installs it";
  const std::string database = cluster.NewDatabase("webhooks");
  NetworkNamespace machine;
  ASSERT_EQ(machine.Run("ip route add local 10.0.0.0/8 dev lo"), 0);  // the reporters' networks
  TempDir dir;
  ASSERT_TRUE(MakeCertificates(dir));

  // The endpoints, added from the command line: the standard one's secret
  // is printed once.
  const std::string standardUrl = "https://127.0.0.1:" + std::to_string(kStandardPort) + "/hooks/bans";
  const std::string added =
      ServiceCommand(database, {"webhook", "add", standardUrl, "--format", "standard", "--webhook-allow-private"});
  std::smatch secret;
  ASSERT_TRUE(std::regex_search(added, secret, std::regex("whsec_[A-Za-z0-9+/=]+"))) << added;
  const std::string discordUrl = "https://127.0.0.1:" + std::to_string(kDiscordPort) + "/api/webhooks/1/token";
  ASSERT_THAT(
      ServiceCommand(database, {"webhook", "add", discordUrl, "--format", "discord", "--webhook-allow-private"}),
      Not(HasSubstr("refused")));
  auto standard = std::make_unique<Receiver>(machine, dir, kStandardPort, "standard", secret.str());
  Receiver discord(machine, dir, kDiscordPort, "discord");
  ASSERT_TRUE(standard->ready() && discord.ready()) << standard->process().Output() << discord.process().Output();
  const std::vector<std::string> options = {"--webhook-allow-private", "--webhook-ca-file",
                                            (dir.path() / "ca.pem").string(), "--public-url",
                                            "https://bans.example.test"};
  std::vector<std::unique_ptr<ServiceProcess>> services = Instances(machine, database, options);
  for (auto& service : services) ASSERT_TRUE(service->ready()) << service->process().Output();
  const auto showAll = [&] {
    std::string all = "standard:\n" + standard->process().Output() + "discord:\n" + discord.process().Output();
    for (auto& service : services) all += "service:\n" + service->process().Output();
    return all;
  };

  // A report opens a case; reports from two more networks, through the
  // other instance too, reach the threshold.
  ASSERT_TRUE(Report(machine, 8081, kPlayer + 100, 0x0A010001));
  EXPECT_TRUE(Eventually([&] { return standard->Took("case.opened"); })) << showAll();
  ASSERT_TRUE(Report(machine, 8082, kPlayer + 101, 0x0A020001));
  ASSERT_TRUE(Report(machine, 8081, kPlayer + 102, 0x0A030001));
  EXPECT_TRUE(Eventually([&] { return standard->Took("case.threshold"); })) << showAll();

  // A ban whose reason would ping everyone and inject markup reaches both;
  // Discord shows the reason as written and parses no mention.
  ASSERT_THAT(ServiceCommand(database, {"ban", std::to_string(kPlayer), "--reason", "@everyone <script>"}),
              HasSubstr("banned "));
  EXPECT_TRUE(Eventually([&] { return standard->Took("ban.created"); })) << showAll();
  EXPECT_TRUE(Eventually([&] { return DiscordMessages(discord).size() == 3; })) << showAll();
  EXPECT_THAT(discord.process().Output(), HasSubstr("limited\n"));
  for (const nlohmann::json& message : DiscordMessages(discord)) {
    EXPECT_EQ(message["allowed_mentions"], nlohmann::json({{"parse", nlohmann::json::array()}}));
    if (message["embeds"][0]["title"] != "Player banned") continue;
    EXPECT_EQ(message["embeds"][0]["url"], "https://bans.example.test/player/" + std::to_string(kPlayer));
    std::string reason;
    for (const nlohmann::json& field : message["embeds"][0]["fields"]) {
      if (field["name"] == "Reason") reason = field["value"];
    }
    EXPECT_EQ(reason, "\\@everyone \\<script\\>");
  }

  // The receiver is down while a ban is lifted, and both instances restart
  // meanwhile: the event arrives once it is back.
  standard->process().Signal(SIGKILL);
  ASSERT_TRUE(standard->process().WaitForExit());
  ASSERT_THAT(ServiceCommand(database, {"lift", std::to_string(kPlayer), "--reason", "appeal accepted"}),
              HasSubstr("lifted"));
  std::this_thread::sleep_for(1500ms);  // the first attempt fails
  for (auto& service : services) service->process().Signal(SIGTERM);
  for (auto& service : services) ASSERT_TRUE(service->process().WaitForExit()) << service->process().Output();
  services = Instances(machine, database, options);
  for (auto& service : services) ASSERT_TRUE(service->ready()) << service->process().Output();
  const std::vector<std::string> before = standard->Lines("standard");
  EXPECT_THAT(standard->process().Output(), Not(HasSubstr("unverified")));
  standard = std::make_unique<Receiver>(machine, dir, kStandardPort, "standard", secret.str());
  ASSERT_TRUE(standard->ready());
  EXPECT_TRUE(Eventually([&] { return standard->Took("ban.lifted"); }, 15s)) << showAll();
  EXPECT_TRUE(Eventually([&] { return DiscordMessages(discord).size() == 4; })) << showAll();

  // Every event once on each receiver, each signature good.
  std::this_thread::sleep_for(1s);  // a second sending of anything would be in by now
  std::vector<std::string> took = standard->Lines("standard");
  took.insert(took.end(), before.begin(), before.end());
  std::map<std::string, int> standardIds, discordIds;
  for (const std::string& line : took) ++standardIds[line.substr(0, line.find(' '))];
  for (const nlohmann::json& message : DiscordMessages(discord)) ++discordIds[EventIdOf(message)];
  EXPECT_EQ(standardIds.size(), 4u);
  for (const auto& [id, count] : standardIds) EXPECT_EQ(count, 1) << id;
  for (const auto& [id, count] : discordIds) EXPECT_EQ(standardIds.count(id), 1u) << id << " " << count;
  for (const auto& [id, count] : discordIds) EXPECT_EQ(count, 1) << id;
  EXPECT_THAT(standard->process().Output(), Not(HasSubstr("unverified")));
}

}  // namespace
}  // namespace palisard
