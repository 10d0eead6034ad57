#include "app/web_actions.h"

#include <gtest/gtest.h>

#include <atomic>

#include "helpers/fake_clock.h"
#include "helpers/fake_http_server.h"
#include "helpers/memory_filter_engine.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

constexpr uint64_t kOwn = 76561197960287930ULL;
constexpr uint64_t kOther = 76561197960265728ULL;

TEST(ParseIdParameterTest, OnlyAPlainDecimalInRangeIsAnId) {
  struct Case {
    const char* path;
    std::optional<uint64_t> id;
  };
  const Case cases[] = {
      {"/report?76561197960265728", 76561197960265728ULL},
      {"/votekick?5&x=7", 5},
      {"/report?18446744073709551615", 18446744073709551615ULL},
      {"/report?18446744073709551616", std::nullopt},
      {"/report?18446744073709551617", std::nullopt},  // would wrap to 1
      {"/report?12abc", std::nullopt},
      {"/report? 7", std::nullopt},
      {"/report?-1", std::nullopt},
      {"/report?+1", std::nullopt},
      {"/report?", std::nullopt},
      {"/report?0", std::nullopt},
      {"/report?&5", std::nullopt},
      {"/report?1?2", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseIdParameter(c.path), c.id) << c.path;
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(firewall.Initialize().ok());
    state.EditForTest([&](MatchData& d) {
      d.gameFound = true;
      d.ownId = kOwn;
      d.hostId = kOwn;  // hosting, unless a test says otherwise
      d.clients[3].SetCommunityId(kOther);
      d.clients[3].SetAddress({198, 18, 0, 7});
      d.SyncPlayerRecords();
    });
    BanService::Options options;
    options.port = service.port();
    banService = std::make_unique<BanService>(clock, options, recording);
    banService->SetHost("127.0.0.1");
    actions = std::make_unique<WebActions>(state, *banService, firewall, adminClient, clock, recording);
  }

  std::string Run(std::string (WebActions::*action)(const std::string&), const std::string& path) {
    std::string message = ((*actions).*action)(path);
    console = recording.Take();
    return message;
  }

  // What the service's result element holds; read on the server's thread.
  std::atomic<const char*> serviceAnswer{"true"};
  FakeHttpServer service{[this](const std::string&) {
    return FakeHttpServer::Ok("<Envelope><AddInfractionResult>" + std::string(serviceAnswer.load()) +
                              "</AddInfractionResult></Envelope>");
  }};
  MatchState state;
  FakeClock clock;
  MemoryFilterEngine engine;
  Firewall firewall{engine, clock};
  AdminClient adminClient{state, clock, AdminClient::Timeouts{}};
  std::unique_ptr<BanService> banService;
  std::unique_ptr<WebActions> actions;
  RecordingConsole recording;
  std::string console;
};

TEST_F(ActionsTest, ReportingYourselfOrWithoutSignInSendsNothing) {
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?76561197960287930"), "You cannot report yourself");
  EXPECT_EQ(console, "Reporting 76561197960287930..\n");
  state.EditForTest([&](MatchData& d) { d.ownId = 0; });
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?0"), "Invalid id provided");
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?5x"), "Invalid id provided");
  EXPECT_EQ(console, "");
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?5"), "You must log in to Online Services to report a player");
  EXPECT_EQ(service.connections(), 0);
}

TEST_F(ActionsTest, AcceptedReportBlocksOnlyOnTheHostingCopy) {
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?76561197960265728"), "Report successful");
  EXPECT_EQ(console, "Reporting 76561197960265728..\nReport successful\n");
  ASSERT_EQ(firewall.Blocks().size(), 1u);
  EXPECT_EQ(firewall.Blocks().front().address, 0xC6120007u);

  firewall.ClearBlocks();
  state.EditForTest([&](MatchData& d) { d.hostId = 111; });  // another player hosts
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?76561197960265728"), "Report successful");
  EXPECT_TRUE(firewall.Blocks().empty());

  state.EditForTest([&](MatchData& d) { d.hostId = kOwn; });
  serviceAnswer = "false";  // answered, not accepted: nobody blocked
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?76561197960265728"), "Report successful");
  EXPECT_TRUE(firewall.Blocks().empty());
  serviceAnswer = "true";
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?999"), "Report successful") << "not present: nothing blocked";
  EXPECT_TRUE(firewall.Blocks().empty());
}

TEST_F(ActionsTest, ReportWithoutAnAnswerOrBeforeAGameFails) {
  serviceAnswer = "";  // a result without text
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?5"), "Report failed unexpectedly");
  EXPECT_EQ(console, "Reporting 5..\nReport failed unexpectedly\n");

  const int asked = service.connections();
  state.EditForTest([&](MatchData& d) { d.gameFound = false; });
  EXPECT_EQ(Run(&WebActions::ReportPlayer, "/report?5"), "Report failed unexpectedly");
  EXPECT_EQ(service.connections(), asked) << "nothing is sent before a game is found";
}

TEST_F(ActionsTest, VoteKickNeedsAPalisardHost) {
  EXPECT_EQ(Run(&WebActions::VoteKickPlayer, "/votekick?5"), "Server is not Palisard enabled");
  EXPECT_EQ(console, "");
  EXPECT_FALSE(state.Snapshot().voteRequestedAtMs.has_value());

  state.EditForTest([&](MatchData& d) { d.hostEnabled = true; });  // but no server address to reach it at
  EXPECT_EQ(Run(&WebActions::VoteKickPlayer, "/votekick?5abc"), "Invalid id provided");
  EXPECT_EQ(console, "");
  EXPECT_FALSE(state.Snapshot().voteRequestedAtMs.has_value());
  EXPECT_EQ(Run(&WebActions::VoteKickPlayer, "/votekick?5"), "Votekick request failed unexpectedly");
  EXPECT_EQ(console, "Requesting a votekick on 5..\n");
  EXPECT_TRUE(state.Snapshot().voteRequestedAtMs.has_value());
}

}  // namespace
}  // namespace palisard
