// One suite, run against SQLite and against PostgreSQL. PostgreSQL comes from
// the URL in PALISARD_TEST_POSTGRES_URL (tests/with-postgres.sh starts a
// throw-away cluster and sets it); without it those runs are skipped.
#include "store/store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "helpers/temp_dir.h"
#include "store/ban_json.h"
#include "store/schema.h"
#include "store/sightings.h"
#include "store/sql_database.h"

namespace palisard {
namespace {

enum class Backend { kSqlite, kPostgres };

constexpr UnixTime kNow = 1'700'000'000;
constexpr UnixTime kHour = 3600;
constexpr UnixTime kDay = 24 * kHour;
const Actor kModerator{"cli:root", "cli"};

std::string PostgresUrl() {
  const char* url = std::getenv("PALISARD_TEST_POSTGRES_URL");
  return url != nullptr ? url : "";
}

class StoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres && PostgresUrl().empty()) {
      GTEST_SKIP() << "PostgreSQL skipped: PALISARD_TEST_POSTGRES_URL is not set (tests/with-postgres.sh sets it)";
    }
    url_ = NewDatabase();
    ASSERT_TRUE(Open(url_, &store_));
  }

  void TearDown() override {
    store_.reset();
    for (const std::string& name : postgresDatabases_) {
      EXPECT_TRUE(Admin()->Script("DROP DATABASE " + name + " WITH (FORCE)").ok());
    }
  }

  // A fresh, empty database on the backend under test.
  std::string NewDatabase() {
    static std::atomic<int> counter{0};
    std::string name = "store_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    if (GetParam() == Backend::kSqlite) return (dir_.path() / (name + ".db")).string();
    Result created = Admin()->Script("CREATE DATABASE " + name);
    EXPECT_TRUE(created.ok()) << created.text();
    postgresDatabases_.push_back(name);
    return PostgresUrl() + "&dbname=" + name;
  }

  static bool Open(const std::string& url, std::unique_ptr<Store>* store) {
    Result opened = OpenStore(url, store);
    EXPECT_TRUE(opened.ok()) << opened.text();
    return opened.ok();
  }

  // The database under the store, for what only SQL can try.
  std::unique_ptr<SqlDatabase> Raw() {
    std::unique_ptr<SqlDatabase> db;
    Result opened = GetParam() == Backend::kSqlite ? OpenSqliteDatabase(url_, &db) : OpenPostgresDatabase(url_, &db);
    EXPECT_TRUE(opened.ok()) << opened.text();
    return db;
  }

  Standing StandingOf(uint64_t id, UnixTime now, UnixTime scoreSince = kNow - 30 * kDay) {
    std::vector<Standing> standings;
    EXPECT_TRUE(store_->Standings({id}, now, scoreSince, &standings).ok());
    return standings.empty() ? Standing{} : standings[0];
  }

  ReportOutcome Report(uint64_t reporter, uint64_t reported, const std::string& network, UnixTime now,
                       const ReportLimits& limits = {}) {
    ReportOutcome outcome;
    Result recorded = store_->RecordReport({reporter, reported, network}, limits, now, &outcome);
    EXPECT_TRUE(recorded.ok()) << recorded.text();
    return outcome;
  }

  std::vector<Case> OpenCases() {
    std::vector<Case> cases;
    EXPECT_TRUE(store_->OpenCases(&cases).ok());
    return cases;
  }

  // The refusals of kind `action` folded into the audit by `now`: the
  // count of each subject, and the rows written.
  std::map<std::string, int64_t> Refusals(const std::string& action, UnixTime now, std::size_t* rows = nullptr) {
    EXPECT_TRUE(store_->Prune(0, 0, now).ok());
    std::vector<AuditEntry> audit;
    EXPECT_TRUE(store_->Audit({"", 0, action}, 1000, &audit).ok());
    std::map<std::string, int64_t> counts;
    for (const AuditEntry& entry : audit) counts[entry.actor] += nlohmann::json::parse(entry.after)["refusals"].get<int64_t>();
    if (rows != nullptr) *rows = audit.size();
    return counts;
  }

  // The events written so far, oldest first: each type with its data.
  std::vector<std::pair<std::string, nlohmann::json>> Events() {
    std::vector<SqlRow> rows;
    EXPECT_TRUE(Raw()->Query("SELECT type, data, message_id FROM events ORDER BY id", {}, &rows).ok());
    std::vector<std::pair<std::string, nlohmann::json>> events;
    for (const SqlRow& row : rows) {
      EXPECT_EQ(row.at(2)->size(), 36u) << *row.at(2);
      events.emplace_back(*row.at(0), nlohmann::json::parse(*row.at(1)));
    }
    return events;
  }

  int64_t AddWebhook(WebhookFormat format, std::vector<std::string> events) {
    const std::string secret = format == WebhookFormat::kStandard ? "whsec_c2VjcmV0" : "";
    WebhookEndpoint made;
    Result added =
        store_->AddWebhook({"https://example.com/hook", format, std::move(events), secret}, kModerator, kNow, &made);
    EXPECT_TRUE(added.ok()) << added.text();
    return made.id;
  }

  std::string url_;
  std::unique_ptr<Store> store_;

 private:
  SqlDatabase* Admin() {
    if (!admin_) {
      EXPECT_TRUE(OpenPostgresDatabase(PostgresUrl(), &admin_).ok());
    }
    return admin_.get();
  }

  TempDir dir_;
  std::unique_ptr<SqlDatabase> admin_;
  std::vector<std::string> postgresDatabases_;
};

TEST_P(StoreTest, BanIsInForceUntilItRunsOutOrIsLifted) {
  EXPECT_EQ(store_->AddBan({0, "cheating", std::nullopt}, kModerator, kNow, nullptr).kind(), Result::Kind::kInvalid);
  // Every reason has one limit; blank, invisible and control-only texts say nothing.
  for (const std::string& reason : {std::string(), std::string("\0", 1), std::string("\xC2\xA0 \xE2\x80\x8B"),
                                    std::string("\xE2\x80\x8F"),
                                    std::string("a\x1B[2J"), std::string("a\xC2\x9B"), std::string("a\nb"),
                                    std::string(501, 'x'), std::string("\xC0\xAF")}) {
    EXPECT_EQ(store_->AddBan({7, reason, std::nullopt}, kModerator, kNow, nullptr).kind(), Result::Kind::kInvalid)
        << reason;
  }
  EXPECT_EQ(store_->AddBan({7, "cheating", kNow}, kModerator, kNow, nullptr).kind(), Result::Kind::kInvalid);

  Ban made;
  ASSERT_TRUE(store_->AddBan({7, "cheating", kNow + kDay}, kModerator, kNow, &made).ok());
  EXPECT_EQ(made.ref.size(), 32u);
  EXPECT_EQ(made.madeBy, "cli:root");
  EXPECT_EQ(store_->AddBan({7, "again", std::nullopt}, kModerator, kNow + 1, nullptr).kind(), Result::Kind::kConflict);
  EXPECT_TRUE(StandingOf(7, kNow + kDay - 1).banned);
  EXPECT_FALSE(StandingOf(7, kNow + kDay).banned);

  // Run out: a new ban may be made, and lifted once.
  Ban second;
  ASSERT_TRUE(store_->AddBan({7, "cheating again", std::nullopt}, kModerator, kNow + kDay, &second).ok());
  EXPECT_NE(second.ref, made.ref);
  std::vector<Ban> bans;
  ASSERT_TRUE(store_->ListBans(false, kNow + kDay, &bans).ok());
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].ref, second.ref);
  EXPECT_EQ(store_->LiftBan(7, "", kModerator, kNow + kDay + 1, nullptr).kind(), Result::Kind::kInvalid);
  Ban lifted;
  ASSERT_TRUE(store_->LiftBan(7, "appeal granted", {"mod", "203.0.113.9"}, kNow + kDay + 1, &lifted).ok());
  ASSERT_TRUE(lifted.lift.has_value());
  EXPECT_EQ(lifted.lift->by, "mod");
  EXPECT_FALSE(StandingOf(7, kNow + kDay + 2).banned);
  EXPECT_EQ(store_->LiftBan(7, "again", kModerator, kNow + kDay + 2, nullptr).kind(), Result::Kind::kNotFound);

  // Nothing is deleted: both bans stay on record, newest first.
  ASSERT_TRUE(store_->ListBans(true, kNow + kDay + 2, &bans).ok());
  ASSERT_EQ(bans.size(), 2u);
  EXPECT_EQ(bans[0].ref, second.ref);
  EXPECT_EQ(bans[0].lift->reason, "appeal granted");
  EXPECT_EQ(bans[1].until, kNow + kDay);

  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 7, ""}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 3u);
  EXPECT_EQ(audit[0].action, "lift");
  EXPECT_EQ(audit[0].from, "203.0.113.9");
  EXPECT_EQ(audit[0].playerId, 7u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].before).count("lift"), 0u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].after)["lift"]["reason"], "appeal granted");
  EXPECT_EQ(audit[2].action, "ban");
  EXPECT_EQ(audit[2].before, "");
  EXPECT_EQ(nlohmann::json::parse(audit[2].after)["ref"], made.ref);
}

TEST_P(StoreTest, ReportsGatherInOneCaseThatOneDecisionCloses) {
  EXPECT_EQ(Report(1, 9, "203.0.113.0/24", kNow).verdict, ReportVerdict::kRecorded);
  Report(2, 9, "203.0.113.0/24", kNow + 10);
  ReportOutcome third = Report(3, 9, "198.51.100.0/24", kNow + 20);
  EXPECT_FALSE(third.reportedBanned);
  Report(1, 8, "192.0.2.0/24", kNow + 30);  // another player's case, one network

  std::vector<Case> open = OpenCases();
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open[0].id, third.caseId);
  EXPECT_EQ(open[0].playerId, 9u);
  EXPECT_EQ(open[0].reports, 3u);
  EXPECT_EQ(open[0].networks, 2u);
  EXPECT_EQ(open[0].reporters, 3u);
  EXPECT_EQ(open[0].firstReportAt, kNow);
  EXPECT_EQ(open[0].lastReportAt, kNow + 20);
  EXPECT_EQ(open[1].playerId, 8u);

  // A ban closes the case; later reports are kept outside any case.
  ASSERT_TRUE(store_->AddBan({9, "wallhack", std::nullopt}, kModerator, kNow + 100, nullptr).ok());
  ReportOutcome afterBan = Report(4, 9, "192.0.2.0/24", kNow + 200);
  EXPECT_TRUE(afterBan.reportedBanned);
  EXPECT_EQ(afterBan.caseId, 0);
  ASSERT_EQ(OpenCases().size(), 1u);

  // After a lift, reports open a new case; a dismissal closes it once.
  ASSERT_TRUE(store_->LiftBan(9, "wrong player", kModerator, kNow + 300, nullptr).ok());
  ReportOutcome afterLift = Report(5, 9, "192.0.2.0/24", kNow + 400);
  EXPECT_NE(afterLift.caseId, third.caseId);
  ASSERT_TRUE(store_->DismissCase(afterLift.caseId, "no evidence", kModerator, kNow + 500).ok());
  EXPECT_EQ(store_->DismissCase(afterLift.caseId, "again", kModerator, kNow + 501).kind(), Result::Kind::kNotFound);
  EXPECT_EQ(store_->DismissCase(12345, "none", kModerator, kNow + 501).kind(), Result::Kind::kNotFound);

  PlayerFile file;
  ASSERT_TRUE(store_->Player(9, &file).ok());
  ASSERT_EQ(file.cases.size(), 2u);
  EXPECT_EQ(file.cases[0].closing->decision, "dismissed");
  EXPECT_EQ(file.cases[1].closing->decision, "banned");
  EXPECT_EQ(file.cases[1].reports, 3u);
  ASSERT_EQ(file.reports.size(), 5u);
  EXPECT_EQ(file.reports[1].caseId, 0);  // the one made while banned
  EXPECT_EQ(file.bans.size(), 1u);
  EXPECT_TRUE(file.reportsBy.empty()) << "9 reported no one";
  ASSERT_TRUE(store_->Player(5, &file).ok());
  EXPECT_EQ(file.reportsBy.size(), 1u);
}

TEST_P(StoreTest, ScoreCountsDistinctNetworksSinceTheWindow) {
  Report(1, 9, "203.0.113.0/24", kNow - 10);   // before the window
  Report(2, 9, "198.51.100.0/24", kNow);      // its first second
  Report(3, 9, "203.0.113.0/24", kNow + 1);
  Report(4, 9, "2001:db8:1:2::/64", kNow + 2);
  ASSERT_TRUE(store_->AddBan({0xFFFFFFFFFFFFFFFFu, "top bit", std::nullopt}, kModerator, kNow, nullptr).ok());
  ASSERT_TRUE(store_->AddBan({6, std::string(500, 'x'), 4102444800}, kModerator, kNow, nullptr).ok());
  EXPECT_TRUE(StandingOf(6, 4102444799).banned) << "a ban running past 2038 and to 2100";

  std::vector<Standing> standings;
  ASSERT_TRUE(store_->Standings({5, 9, 0xFFFFFFFFFFFFFFFFu, 9}, kNow + 10, kNow, &standings).ok());
  ASSERT_EQ(standings.size(), 4u);
  EXPECT_EQ(standings[0].playerId, 5u);
  EXPECT_EQ(standings[0].score, 0u);
  EXPECT_EQ(standings[1].score, 3u);
  EXPECT_FALSE(standings[1].banned);
  EXPECT_TRUE(standings[2].banned);
  EXPECT_EQ(standings[3].score, 3u);
}

TEST_P(StoreTest, LimitsRefuseAndCountWithoutStoring) {
  const ReportLimits limits{3, 3600, 1, 4};  // a burst of 3, a report a second back
  struct Step {
    uint64_t reporter, reported;
    const char* network;
    UnixTime at;
    ReportVerdict verdict;
  } steps[] = {
      {1, 10, "a", kNow, ReportVerdict::kRecorded},
      {2, 11, "a", kNow, ReportVerdict::kRecorded},
      {3, 12, "a", kNow, ReportVerdict::kRecorded},
      {4, 13, "a", kNow, ReportVerdict::kNetworkLimit},
      {4, 13, "a", kNow + 1, ReportVerdict::kRecorded},  // one token back after a second
      {5, 13, "a", kNow + 1, ReportVerdict::kNetworkLimit},
      {0, 13, "b", kNow, ReportVerdict::kInvalid},
      {13, 13, "b", kNow, ReportVerdict::kInvalid},
      // Ten seconds later the bucket holds its burst, not ten; a report
      // that another limit refuses takes its token too.
      {1, 10, "a", kNow + 11, ReportVerdict::kPairLimit},
      {6, 14, "a", kNow + 11, ReportVerdict::kRecorded},
      {7, 14, "a", kNow + 11, ReportVerdict::kRecorded},
      {8, 14, "a", kNow + 11, ReportVerdict::kNetworkLimit},
      // The same pair again after a day; then the player's hourly cap.
      {1, 10, "b", kNow + kDay, ReportVerdict::kRecorded},
      {2, 10, "c", kNow + kDay, ReportVerdict::kRecorded},
      {3, 10, "d", kNow + kDay, ReportVerdict::kRecorded},
      {4, 10, "e", kNow + kDay, ReportVerdict::kRecorded},
      {5, 10, "f", kNow + kDay, ReportVerdict::kReportedLimit},
      {5, 10, "f", kNow + kDay + kHour, ReportVerdict::kRecorded},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Report(step.reporter, step.reported, step.network, step.at, limits).verdict, step.verdict)
        << step.reporter << " reports " << step.reported << " from " << step.network << " at +" << step.at - kNow;
  }
  EXPECT_EQ(Refusals("report-refused", kNow + 50), (std::map<std::string, int64_t>{}))
      << "a window is folded once it has ended";
  EXPECT_EQ(Refusals("report-refused", kNow + 2 * kDay),
            (std::map<std::string, int64_t>{
                {"invalid", 2}, {"network limit", 3}, {"pair limit", 1}, {"reported limit", 1}}));
  // The appeals' buckets are their own: a network out of report tokens may appeal.
  ASSERT_TRUE(store_->AddBan({13, "aimbot", std::nullopt}, kModerator, kNow + 11, nullptr).ok());
  AppealVerdict appealed = AppealVerdict::kNotBanned;
  ASSERT_TRUE(store_->RecordAppeal({13, "not me", "a"}, {}, kNow + 11, &appealed).ok());
  EXPECT_EQ(appealed, AppealVerdict::kRecorded);
  PlayerFile file;
  ASSERT_TRUE(store_->Player(13, &file).ok());
  EXPECT_EQ(file.reports.size(), 1u);
}

// Several instances share one database: the limits hold across them, and
// two reports never open two cases, however their transactions interleave.
// The stores open together on an empty database, so the migrations race too.
TEST_P(StoreTest, StoresOnOneDatabaseShareTheLimits) {
  const std::string url = NewDatabase();
  std::unique_ptr<Store> stores[2];
  std::thread openers[2];
  for (int i = 0; i < 2; ++i) openers[i] = std::thread([&, i] { Open(url, &stores[i]); });
  for (std::thread& opener : openers) opener.join();
  ASSERT_TRUE(stores[0] && stores[1]);

  const ReportLimits limits{5, 1, 1, 7};
  std::atomic<int> recorded[2] = {0, 0};
  std::atomic<int> failures{0};
  std::thread reporters[2];
  for (int i = 0; i < 2; ++i) {
    reporters[i] = std::thread([&, i] {
      for (uint64_t n = 0; n < 12; ++n) {
        ReportOutcome outcome;
        // Phase one: one network, many players (the bucket's 5 hold);
        // phase two: one player, many networks (his cap of 7 holds).
        NewReport one = {100 + n * 2 + static_cast<uint64_t>(i), 1000 + n * 2 + static_cast<uint64_t>(i), "shared"};
        NewReport two = {200 + n * 2 + static_cast<uint64_t>(i), 42, "net" + std::to_string(n * 2 + i)};
        for (int phase = 0; phase < 2; ++phase) {
          Result result = stores[i]->RecordReport(phase == 0 ? one : two, limits, kNow, &outcome);
          if (!result.ok()) failures++;
          if (result.ok() && outcome.verdict == ReportVerdict::kRecorded) recorded[phase]++;
        }
      }
    });
  }
  for (std::thread& reporter : reporters) reporter.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(recorded[0], 5);
  EXPECT_EQ(recorded[1], 7);
  std::vector<Case> cases;
  ASSERT_TRUE(stores[0]->OpenCases(&cases).ok());
  ASSERT_EQ(cases.size(), 6u);  // 5 players of phase one, and player 42 once
  EXPECT_EQ(cases[0].playerId, 42u);
  EXPECT_EQ(cases[0].reports, 7u);

  // Sign-ins to many names from one network: its 20 failures hold too.
  std::atomic<int> heard{0};
  std::thread signIns[2];
  for (int i = 0; i < 2; ++i) {
    signIns[i] = std::thread([&, i] {
      for (int n = 0; n < 15; ++n) {
        const Actor guesser{"name" + std::to_string(n * 2 + i), "198.51.100.7"};
        SignInAttempt attempt;
        if (!stores[i]->BeginSignIn("198.51.100.0/24", {}, guesser, kNow, &attempt).ok()) failures++;
        if (attempt.locked) continue;
        heard++;
        if (!stores[i]->FinishSignIn(attempt, std::nullopt, 0, guesser, kNow).ok()) failures++;
      }
    });
  }
  for (std::thread& signIn : signIns) signIn.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(heard, 20);
}

TEST_P(StoreTest, ImportTwiceChangesNothingAndDryRunWritesNothing) {
  ASSERT_TRUE(store_->AddBan({7, "aimbot", std::nullopt}, kModerator, kNow, nullptr).ok());
  ASSERT_TRUE(store_->AddBan({8, "spam", kNow + kDay}, kModerator, kNow, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(8, "served", kModerator, kNow + 1, nullptr).ok());
  std::vector<Ban> exported;
  ASSERT_TRUE(store_
                  ->ForEachBan([&](const Ban& ban) {
                    Ban read;
                    EXPECT_TRUE(BanFromJson(nlohmann::json::parse(JsonText(BanToJson(ban))), &read).ok());
                    exported.push_back(read);
                  })
                  .ok());
  ASSERT_EQ(exported.size(), 2u);

  std::unique_ptr<Store> other;
  ASSERT_TRUE(Open(NewDatabase(), &other));
  ReportOutcome reported;
  ASSERT_TRUE(other->RecordReport({3, 7, "203.0.113.0/24"}, {}, kNow, &reported).ok());
  ASSERT_TRUE(other->RecordReport({3, 8, "203.0.113.0/24"}, {}, kNow, &reported).ok());
  const Actor importer{"import", "cli"};
  std::size_t added = 99;
  ASSERT_TRUE(other->ImportBans(exported, true, importer, kNow + 2, &added).ok());
  EXPECT_EQ(added, 2u);
  std::vector<Ban> bans;
  ASSERT_TRUE(other->ListBans(true, kNow + 2, &bans).ok());
  EXPECT_TRUE(bans.empty());
  std::vector<Case> cases;
  ASSERT_TRUE(other->OpenCases(&cases).ok());
  EXPECT_EQ(cases.size(), 2u);

  for (std::size_t expected : {2u, 0u}) {
    ASSERT_TRUE(other->ImportBans(exported, false, importer, kNow + 2, &added).ok());
    EXPECT_EQ(added, expected);
  }
  ASSERT_TRUE(other->ListBans(true, kNow + 2, &bans).ok());
  ASSERT_EQ(bans.size(), 2u);
  EXPECT_EQ(bans[1].ref, exported[0].ref);
  EXPECT_EQ(bans[0].lift->reason, "served");
  ASSERT_TRUE(other->OpenCases(&cases).ok());
  ASSERT_EQ(cases.size(), 1u) << "the imported ban in force closed 7's case";
  EXPECT_EQ(cases[0].playerId, 8u) << "a lifted one closes nothing";
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(other->Audit({}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(audit[0].action, "import");
  EXPECT_EQ(nlohmann::json::parse(audit[0].after)["added"], 2);

  // A plain list of ids has no refs: a player banned already is skipped.
  std::vector<Ban> plain(2);
  plain[0] = {0, "", 7, "imported from list.txt", "", 0, std::nullopt, std::nullopt};
  plain[1] = {0, "", 9, "imported from list.txt", "", 0, std::nullopt, std::nullopt};
  for (std::size_t expected : {1u, 0u}) {
    ASSERT_TRUE(other->ImportBans(plain, false, importer, kNow + 3, &added).ok());
    EXPECT_EQ(added, expected);
  }
  ASSERT_TRUE(other->ListBans(false, kNow + 3, &bans).ok());
  ASSERT_EQ(bans.size(), 2u);
  EXPECT_EQ(bans[0].playerId, 9u);
  EXPECT_EQ(bans[0].madeBy, "import");
  plain[0].playerId = 0;
  EXPECT_EQ(other->ImportBans(plain, false, importer, kNow + 3, &added).kind(), Result::Kind::kInvalid);
}

TEST_P(StoreTest, DatabaseKeepsItsOwnRules) {
  ASSERT_TRUE(store_->SetSetting("latestVersion", "1.0.2", kModerator, kNow).ok());
  ASSERT_TRUE(store_->SetSetting("latestVersion", "1.0.3", kModerator, kNow + 1).ok());
  std::unique_ptr<Store> other;
  ASSERT_TRUE(Open(url_, &other));
  std::optional<std::string> value;
  ASSERT_TRUE(other->GetSetting("latestVersion", &value).ok());
  EXPECT_EQ(value, "1.0.3");
  ASSERT_TRUE(other->GetSetting("missing", &value).ok());
  EXPECT_EQ(value, std::nullopt);
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({}, 1, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].before)["value"], "1.0.2");
  EXPECT_EQ(nlohmann::json::parse(audit[0].after)["value"], "1.0.3");

  // The audit is append-only for anyone with SQL, and a schema newer than
  // this program's is refused rather than written by rules it does not know.
  std::unique_ptr<SqlDatabase> raw = Raw();
  ASSERT_TRUE(raw);
  EXPECT_FALSE(raw->Query("UPDATE audit SET actor = 'someone else'", {}, nullptr).ok());
  EXPECT_FALSE(raw->Query("DELETE FROM audit", {}, nullptr).ok());
  if (GetParam() == Backend::kPostgres) {
    EXPECT_FALSE(raw->Script("TRUNCATE audit").ok());
    // The test cluster commits asynchronously; the store's sessions do not.
    std::vector<SqlRow> rows;
    ASSERT_TRUE(raw->Query("SHOW synchronous_commit", {}, &rows).ok());
    EXPECT_EQ(rows.at(0).at(0), "on");
    // A server that ends the store's session while it is idle (a restart)
    // costs no call: the next one sees it and connects again.
    ASSERT_TRUE(raw->Query("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                           "WHERE datname = current_database() AND pid <> pg_backend_pid()",
                           {}, nullptr)
                    .ok());
    EXPECT_TRUE(store_->GetSetting("latestVersion", &value).ok());
  }
  ASSERT_TRUE(store_->Audit({}, 10, &audit).ok());
  EXPECT_EQ(audit.size(), 2u);

  // A row the program cannot read (SQLite keeps a text in any column) is a
  // failure, not a made-up value.
  if (GetParam() == Backend::kSqlite) {
    ASSERT_TRUE(raw->Query("INSERT INTO mutes (kind, subject, reason, made_by, made_at) "
                           "VALUES ('network', '192.0.2.0/24', 'r', 'm', 'soon')",
                           {}, nullptr)
                    .ok());
    std::vector<Mute> mutes;
    EXPECT_EQ(store_->Mutes(&mutes).kind(), Result::Kind::kFailed);
  }

  // This process checks a database's schema at its first open only.
  url_ = NewDatabase();
  raw = Raw();
  ASSERT_TRUE(raw && MigrateSchema(*raw).ok());
  ASSERT_TRUE(raw->Query("INSERT INTO schema_versions (version, name) VALUES ($1, 'from the future')",
                         {NewestSchemaVersion() + 1}, nullptr)
                  .ok());
  EXPECT_EQ(OpenStore(url_, &other).kind(), Result::Kind::kUnavailable);
}

// Strangers' failures lock an account out on networks its moderator never
// signed in from, a few an hour; where he did, only failures from there
// count. A session lives until it runs out, its sign-out or its account's
// removal.
TEST_P(StoreTest, SignInLocksOutStrangersAndSessionsEnd) {
  ASSERT_TRUE(store_->AddModerator("mia", ModeratorRole::kAdmin, "hash-of-mia", kModerator, kNow).ok());
  EXPECT_EQ(store_->AddModerator("mia", ModeratorRole::kModerator, "x", kModerator, kNow).kind(),
            Result::Kind::kConflict);
  const SignInLimits limits{5, 20, 900, kHour};
  auto begin = [&](const std::string& name, const std::string& network, UnixTime at) {
    SignInAttempt attempt;
    EXPECT_TRUE(store_->BeginSignIn(network, limits, {name, "198.51.100.7"}, at, &attempt).ok());
    return attempt;
  };
  auto fail = [&](const std::string& name, const std::string& network, UnixTime at) {
    SignInAttempt attempt = begin(name, network, at);
    EXPECT_TRUE(store_->FinishSignIn(attempt, std::nullopt, 0, {name, "198.51.100.7"}, at).ok());
    return attempt;
  };
  auto signIn = [&](const std::string& token, const std::string& network, UnixTime at) {
    SignInAttempt attempt = begin("mia", network, at);
    EXPECT_FALSE(attempt.locked) << network;
    EXPECT_EQ(attempt.passwordHash, "hash-of-mia");
    return store_->FinishSignIn(attempt, token, at + kHour, {"mia", "198.51.100.7"}, at);
  };
  for (int i = 0; i < 4; ++i) fail("mia", "home", kNow + i);
  ASSERT_TRUE(signIn("token-1", "home", kNow + 5).ok());  // right at the fifth: home is known from now on
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(fail("mia", i < 3 ? "b" : "c", kNow + 10 + i).locked) << i;
  EXPECT_TRUE(begin("mia", "d", kNow + 20).locked) << "five strangers' failures lock every stranger out";
  EXPECT_TRUE(begin("mia", "d", kNow + 9 + kHour).locked) << "for an hour from the first";
  EXPECT_FALSE(begin("mia", "d", kNow + 10 + kHour).locked);
  ASSERT_TRUE(signIn("token-2", "home", kNow + 21).ok()) << "but not at home";
  for (int i = 0; i < 5; ++i) fail("mia", "home", kNow + 30 + i);
  EXPECT_TRUE(begin("mia", "home", kNow + 35).locked) << "home's own failures lock home";
  EXPECT_FALSE(begin("mia", "home", kNow + 30 + 900).locked) << "for the shorter window";
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(fail("name" + std::to_string(i), "z", kNow + 40).locked) << i;
  EXPECT_TRUE(begin("other", "z", kNow + 41).locked) << "twenty failures from network z";
  EXPECT_FALSE(fail("nobody", "y", kNow + 42).account.has_value());

  std::optional<SessionInfo> session;
  ASSERT_TRUE(store_->FindSession("token-1", kNow + 5 + kHour - 1, &session).ok());
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(session->moderator.name, "mia");
  EXPECT_EQ(session->moderator.role, ModeratorRole::kAdmin);
  ASSERT_TRUE(store_->FindSession("token-1", kNow + 5 + kHour, &session).ok());
  EXPECT_FALSE(session.has_value()) << "ran out";
  ASSERT_TRUE(store_->EndSession("token-2", {"mia", "198.51.100.7"}, kNow + 22).ok());
  ASSERT_TRUE(store_->FindSession("token-2", kNow + 22, &session).ok());
  EXPECT_FALSE(session.has_value()) << "signed out";
  ASSERT_TRUE(signIn("token-3", "home", kNow + 2 * kHour).ok());
  ASSERT_TRUE(store_->RemoveModerator("mia", kModerator, kNow + 2 * kHour).ok());
  ASSERT_TRUE(store_->FindSession("token-3", kNow + 2 * kHour, &session).ok());
  EXPECT_FALSE(session.has_value()) << "account removed";
  EXPECT_EQ(store_->RemoveModerator("mia", kModerator, kNow + 2 * kHour).kind(), Result::Kind::kNotFound);

  // Each window of refusals is a few audit rows, however many there were.
  std::size_t rows = 0;
  EXPECT_EQ(Refusals("sign-in-failed", kNow + kDay, &rows),
            (std::map<std::string, int64_t>{{"mia", 14}, {"name0", 1}, {"name1", 1}, {"19 others", 19}}));
  EXPECT_EQ(rows, kRefusalRowsPerWindow);
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"mia", 0, ""}, 100, &audit).ok());
  std::map<std::string, int> actions;
  for (const AuditEntry& entry : audit) actions[entry.action]++;
  EXPECT_EQ(actions, (std::map<std::string, int>{
                         {"sign-in", 3}, {"sign-in-failed", 3}, {"sign-in-refused", 3}, {"sign-out", 1}}));
  ASSERT_TRUE(store_->Audit({"", 0, "moderator-remove"}, 100, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].before), (nlohmann::json{{"name", "mia"}, {"role", "admin"}}));
}

// A report's evidence: how many networks, other than the reporter's, hosts
// asked from whose requests named both players together around it. Each
// request is written on its own, as batches of several instances come.
TEST_P(StoreTest, PresenceTellsWhoWasSeenInOneHostsMatch) {
  const UnixTime minute = 60;  // kNow's UTC day ends at kNow + 106 min 40 s
  const uint64_t top = 0xFFFFFFFFFFFFFFF0u;
  const std::string one = "198.18.0.0/24";
  const std::string two = "198.19.0.0/24";
  std::vector<uint64_t> crowd = {1, 7};  // beyond a match's players
  for (uint64_t id = 100; crowd.size() < kMatchPlayers + 2; ++id) crowd.insert(crowd.begin(), id);
  const std::vector<Sighting> requests = {{"198.18.0.1", one, kNow, {1, 9, 9, 0}},
                                          {"198.18.0.1", one, kNow + minute, {1, 9}},
                                          {"198.18.0.1", one, kNow + 4 * minute, {1, 9}},  // a late batch comes first
                                          {"198.18.0.1", one, kNow + 2 * minute, {9}},
                                          {"198.18.0.2", one, kNow, {2, 5}},
                                          {"198.18.0.2", one, kNow + kHour, {2, 9}},
                                          {"198.18.0.3", one, kNow, {3}},
                                          {"198.18.0.1", one, kNow + kHour, {3, 5}},
                                          {"198.19.0.7", two, kNow + 3 * minute, {1, 9}},
                                          {"198.18.0.9", one, kNow, {4, 9}},
                                          {"198.20.0.1", "198.20.0.0/24", kNow + 40 * minute, crowd},
                                          {"198.18.0.4", one, kNow + 100 * minute, {top, 9}},
                                          {"198.18.0.4", one, kNow + 105 * minute, {top, 9}},
                                          {"198.18.0.4", one, kNow + 110 * minute, {top, 9}}};
  for (const Sighting& request : requests) ASSERT_TRUE(store_->RecordSightings({request}).ok());
  struct Step {
    uint64_t reporter;
    const char* network;
    UnixTime at;
    uint32_t hostNetworks;
  } steps[] = {
      {4, one.c_str(), kNow + minute, 0},  // a host on his own network is no witness
      {1, "n", kNow + 5 * minute, 2},       // hosts on two networks
      {3, "n", kNow + 10 * minute, 0},      // at another host at the same time
      {5, "n", kNow + kHour, 0},            // at both hosts, never beside 9
      {2, "n", kNow + 90 * minute, 1},      // together an hour later, at another host
      {top, "n", kNow + 140 * minute, 1},   // through midnight
  };
  int64_t caseId = 0;
  for (const Step& step : steps) caseId = Report(step.reporter, 9, step.network, step.at).caseId;
  const int64_t otherCase = Report(1, 7, "n", kNow + 40 * minute).caseId;
  std::vector<WitnessedReport> reports;
  ASSERT_TRUE(store_->CaseReports(caseId, 30 * minute, 2 * minute, &reports).ok());
  ASSERT_EQ(reports.size(), std::size(steps));
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(reports[i].hostNetworks, steps[i].hostNetworks) << steps[i].reporter;
  }
  ASSERT_TRUE(store_->CaseReports(otherCase, 30 * minute, 2 * minute, &reports).ok());
  EXPECT_EQ(reports.at(0).hostNetworks, 0u);
  ASSERT_TRUE(store_->CaseReports(caseId, 0, 0, &reports).ok());
  EXPECT_EQ(reports.at(1).hostNetworks, 0u) << "seen minutes before, not at the moment";
  ASSERT_TRUE(store_->Prune(kNow + kHour, 0, kNow).ok());
  ASSERT_TRUE(store_->CaseReports(caseId, 30 * minute, 2 * minute, &reports).ok());
  EXPECT_EQ(reports.at(1).hostNetworks, 0u) << "forgotten";
  EXPECT_EQ(reports.at(4).hostNetworks, 1u);
  // Stays that cannot be read are a failure, not evidence of nothing.
  ASSERT_TRUE(Raw()->Query("UPDATE stays SET stays = $1", {SqlBytes{"\xff"}}, nullptr).ok());
  EXPECT_EQ(store_->CaseReports(caseId, 30 * minute, 2 * minute, &reports).kind(), Result::Kind::kFailed);
}

// Presences an older schema kept become stays at the upgrade, and still
// tell who was seen together: through midnight, the day before, and not
// at a host whose network was not kept.
TEST_P(StoreTest, PresencesBecomeStaysAtTheUpgrade) {
  const UnixTime minute = 60;
  url_ = NewDatabase();
  std::unique_ptr<SqlDatabase> raw = Raw();
  ASSERT_TRUE(raw && MigrateSchema(*raw, 3).ok());
  const struct {
    const char* source;
    const char* network;
    uint64_t player;
    UnixTime first;
    UnixTime last;
  } presences[] = {
      {"198.18.0.1", "198.18.0.0/24", 1, kNow, kNow + 4 * minute},
      {"198.18.0.1", "198.18.0.0/24", 9, kNow, kNow + 4 * minute},
      {"198.18.0.2", "", 1, kNow, kNow + 4 * minute},
      {"198.18.0.2", "", 9, kNow, kNow + 4 * minute},
      {"198.18.0.4", "198.18.0.0/24", 6, kNow + 100 * minute, kNow + 115 * minute},
      {"198.18.0.4", "198.18.0.0/24", 9, kNow + 112 * minute, kNow + 112 * minute},
      {"198.18.0.4", "198.18.0.0/24", 8, kNow + 100 * minute, kNow + 104 * minute},
      {"198.18.0.4", "198.18.0.0/24", 9, kNow + 102 * minute, kNow + 102 * minute},
  };
  for (const auto& p : presences) {
    ASSERT_TRUE(raw->Query("INSERT INTO presence (source, network, player_id, first_seen, last_seen) "
                           "VALUES ($1, $2, $3, $4, $5)",
                           {std::string(p.source), std::string(p.network), static_cast<int64_t>(p.player), p.first,
                            p.last},
                           nullptr)
                    .ok());
  }
  ASSERT_TRUE(Open(url_, &store_));
  const int64_t caseId = Report(1, 9, "n", kNow + 5 * minute).caseId;
  Report(8, 9, "n", kNow + 120 * minute);
  Report(6, 9, "n", kNow + 140 * minute);
  std::vector<WitnessedReport> reports;
  ASSERT_TRUE(store_->CaseReports(caseId, 30 * minute, 2 * minute, &reports).ok());
  ASSERT_EQ(reports.size(), 3u);
  for (const WitnessedReport& report : reports) EXPECT_EQ(report.hostNetworks, 1u) << report.report.reporterId;
}

TEST_P(StoreTest, AppealsAndMutesAsModeratorsDecide) {
  const AppealLimits limits{2, 1, 4, 1};  // two from a network and four from all at once, then one an hour
  auto appeal = [&](uint64_t player, const std::string& network, UnixTime at) {
    AppealVerdict verdict = AppealVerdict::kRecorded;
    Result made = store_->RecordAppeal({player, "it was not me </script>", network}, limits, at, &verdict);
    EXPECT_TRUE(made.ok()) << made.text();
    return verdict;
  };
  EXPECT_EQ(appeal(7, "a", kNow), AppealVerdict::kNotBanned);
  for (uint64_t player : {7, 8, 9})
    ASSERT_TRUE(store_->AddBan({player, "aimbot", std::nullopt}, kModerator, kNow, nullptr).ok());
  EXPECT_EQ(appeal(7, "a", kNow), AppealVerdict::kRecorded);
  EXPECT_EQ(appeal(7, "a", kNow), AppealVerdict::kOpenAlready);
  EXPECT_EQ(appeal(7, "b", kNow), AppealVerdict::kRecorded) << "a squatted appeal blocks no other network's";
  EXPECT_EQ(appeal(8, "a", kNow), AppealVerdict::kRecorded);
  EXPECT_EQ(appeal(9, "a", kNow), AppealVerdict::kNetworkLimit);
  EXPECT_EQ(appeal(9, "c", kNow), AppealVerdict::kRecorded);
  EXPECT_EQ(appeal(9, "d", kNow), AppealVerdict::kServiceLimit);
  EXPECT_EQ(appeal(9, "d", kNow + kHour), AppealVerdict::kRecorded);
  AppealVerdict verdict;
  for (const std::string& text : {std::string(" \n"), std::string(2001, 'x')}) {
    EXPECT_EQ(store_->RecordAppeal({7, text, "e"}, limits, kNow, &verdict).kind(), Result::Kind::kInvalid);
  }

  std::vector<Appeal> open;
  std::size_t total = 0;
  ASSERT_TRUE(store_->OpenAppeals(0, 2, &open, &total).ok());
  EXPECT_EQ(total, 5u);
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open[0].network, "d") << "newest first";
  EXPECT_EQ(open[0].text, "it was not me </script>");
  ASSERT_TRUE(store_->OpenAppeals(4, 2, &open, &total).ok());
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].playerId, 7u);
  ASSERT_TRUE(store_->LiftBan(7, "fair enough", kModerator, kNow + 10, nullptr).ok());
  ASSERT_TRUE(store_->OpenAppeals(0, 10, &open, &total).ok());
  ASSERT_EQ(open.size(), 3u) << "the lift granted both of 7's";
  ASSERT_EQ(open[2].playerId, 8u);
  ASSERT_TRUE(store_->RejectAppeal(open[2].id, "caught on demo", kModerator, kNow + 10).ok());
  EXPECT_EQ(store_->RejectAppeal(open[2].id, "again", kModerator, kNow + 10).kind(), Result::Kind::kNotFound);
  PlayerFile file;
  ASSERT_TRUE(store_->Player(7, &file).ok());
  ASSERT_EQ(file.appeals.size(), 2u);
  EXPECT_EQ(file.appeals[0].closing->decision, "granted");
  EXPECT_EQ(file.appeals[1].closing->decision, "granted");
  EXPECT_EQ(Refusals("appeal-refused", kNow + kDay), (std::map<std::string, int64_t>{{"not banned", 1},
                                                                                     {"open already", 1},
                                                                                     {"network limit", 1},
                                                                                     {"service limit", 1}}));

  // Muted reporters and networks are refused and counted.
  ASSERT_TRUE(store_->AddMute(MuteKind::kReporter, "11", "forges reports", kModerator, kNow).ok());
  ASSERT_TRUE(store_->AddMute(MuteKind::kNetwork, "203.0.113.0/24", "a bot farm", kModerator, kNow).ok());
  EXPECT_EQ(store_->AddMute(MuteKind::kReporter, "11", "again", kModerator, kNow).kind(), Result::Kind::kConflict);
  EXPECT_EQ(Report(11, 20, "192.0.2.0/24", kNow).verdict, ReportVerdict::kMuted);
  EXPECT_EQ(Report(12, 20, "203.0.113.0/24", kNow).verdict, ReportVerdict::kMuted);
  EXPECT_EQ(Report(12, 20, "192.0.2.0/24", kNow).verdict, ReportVerdict::kRecorded);
  std::vector<Mute> mutes;
  ASSERT_TRUE(store_->Mutes(&mutes).ok());
  ASSERT_EQ(mutes.size(), 2u);
  ASSERT_TRUE(store_->LiftMute(mutes[1].id, kModerator, kNow + 1).ok());
  EXPECT_EQ(store_->LiftMute(mutes[1].id, kModerator, kNow + 1).kind(), Result::Kind::kNotFound);
  EXPECT_EQ(Report(11, 21, "192.0.2.0/24", kNow + 1).verdict, ReportVerdict::kRecorded);
  EXPECT_EQ(Refusals("report-refused", kNow + 2 * kDay), (std::map<std::string, int64_t>{{"muted", 2}}));
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 11, ""}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0].action, "unmute");
  EXPECT_EQ(audit[1].action, "mute");
}

// Each change writes its event in its own transaction, and nothing else
// does: a refusal, a conflict, a dry run, an import that adds nothing, a
// transaction that fails.
TEST_P(StoreTest, EventsAndTheFeedAreWrittenWithTheirChangesOnly) {
  EXPECT_EQ(store_->AddWebhook({"https://example.com/", WebhookFormat::kStandard, {"ban.made"}, "whsec_c2VjcmV0"},
                               kModerator, kNow, nullptr)
                .kind(),
            Result::Kind::kInvalid);
  EXPECT_EQ(store_->AddWebhook({"https://example.com/", WebhookFormat::kStandard, {}, ""}, kModerator, kNow, nullptr)
                .kind(),
            Result::Kind::kInvalid);
  const int64_t all = AddWebhook(WebhookFormat::kStandard, {});
  const int64_t bans = AddWebhook(WebhookFormat::kDiscord, {"ban.created", "ban.lifted", "ban.created"});

  // A ban whose delivery cannot be written is no ban.
  ASSERT_TRUE(Raw()->Script("ALTER TABLE deliveries RENAME TO deliveries_away").ok());
  EXPECT_FALSE(store_->AddBan({9, "aimbot", std::nullopt}, kModerator, kNow, nullptr).ok());
  ASSERT_TRUE(Raw()->Script("ALTER TABLE deliveries_away RENAME TO deliveries").ok());
  EXPECT_FALSE(StandingOf(9, kNow).banned);
  EXPECT_TRUE(Events().empty());

  const char* networks[] = {"a", "a", "b", "c", "d"};
  for (uint64_t reporter = 1; reporter <= 5; ++reporter) Report(reporter, 9, networks[reporter - 1], kNow + 1);
  Report(9, 9, "e", kNow + 1);  // refused
  ASSERT_TRUE(store_->AddBan({9, "aimbot", kNow + 2 + kDay}, kModerator, kNow + 2, nullptr).ok());
  EXPECT_EQ(store_->AddBan({9, "again", std::nullopt}, kModerator, kNow + 2, nullptr).kind(), Result::Kind::kConflict);
  ASSERT_TRUE(store_->LiftBan(9, "wrong player", kModerator, kNow + 3, nullptr).ok());
  const int64_t dismissed = Report(1, 8, "a", kNow + 4, {20, 60, 1, 30, 1}).caseId;
  ASSERT_TRUE(store_->DismissCase(dismissed, "no evidence", kModerator, kNow + 5).ok());
  ASSERT_TRUE(store_->AddBan({8, "spam", std::nullopt}, kModerator, kNow + 6, nullptr).ok());
  AppealVerdict verdict;
  ASSERT_TRUE(store_->RecordAppeal({8, "@everyone it was not me", "a"}, {}, kNow + 7, &verdict).ok());
  const std::vector<Ban> imported = {{0, "", 7, "from list.txt", "", 0, std::nullopt, std::nullopt}};
  std::size_t added = 0;
  for (bool dryRun : {true, false, false}) {
    ASSERT_TRUE(store_->ImportBans(imported, dryRun, {"import", "cli"}, kNow + 8, &added).ok());
  }

  using nlohmann::json;
  const std::vector<std::pair<std::string, json>> expected = {
      {"case.opened", {{"caseId", 1}, {"playerId", "9"}, {"reports", 1}, {"networks", 1}}},
      {"case.threshold", {{"caseId", 1}, {"playerId", "9"}, {"reports", 4}, {"networks", 3}, {"threshold", 3}}},
      {"ban.created",
       {{"ref", Events().at(2).second["ref"]}, {"playerId", "9"}, {"by", "cli:root"}, {"durationSeconds", kDay},
        {"until", "2023-11-15T22:13:22Z"}, {"reports", 5}, {"networks", 4}, {"reason", "aimbot"}}},
      {"ban.lifted", {{"ref", Events().at(2).second["ref"]}, {"playerId", "9"}, {"by", "cli:root"},
                      {"reason", "wrong player"}}},
      {"case.opened", {{"caseId", dismissed}, {"playerId", "8"}, {"reports", 1}, {"networks", 1}}},
      {"case.threshold",
       {{"caseId", dismissed}, {"playerId", "8"}, {"reports", 1}, {"networks", 1}, {"threshold", 1}}},
      {"case.dismissed",
       {{"caseId", dismissed}, {"playerId", "8"}, {"by", "cli:root"}, {"reports", 1}, {"networks", 1},
        {"reason", "no evidence"}}},
      {"ban.created",
       {{"ref", Events().at(7).second["ref"]}, {"playerId", "8"}, {"by", "cli:root"}, {"durationSeconds", nullptr},
        {"until", nullptr}, {"reports", 0}, {"networks", 0}, {"reason", "spam"}}},
      {"appeal.filed", {{"appealId", 1}, {"playerId", "8"}, {"text", "@everyone it was not me"}}},
      {"bans.imported", {{"source", "import"}, {"by", "import"}, {"added", 1}, {"lifted", 0}}},
  };
  EXPECT_EQ(Events(), expected);

  // Each endpoint has a delivery of what its filter takes.
  std::vector<DeliveryRecord> log;
  ASSERT_TRUE(store_->RecentDeliveries(all, 100, &log).ok());
  EXPECT_EQ(log.size(), expected.size());
  ASSERT_TRUE(store_->RecentDeliveries(bans, 100, &log).ok());
  std::vector<std::string> types;
  for (const DeliveryRecord& record : log) types.push_back(record.type);
  EXPECT_EQ(types, (std::vector<std::string>{"ban.created", "ban.lifted", "ban.created"}));
  EXPECT_EQ(log.at(0).attempts, 0);
  EXPECT_EQ(log.at(0).nextAt, kNow + 6);

  // The feed numbers the changes of the community's own shared bans: not
  // the failed ban, the import or its lift, a private ban or its lift.
  ASSERT_TRUE(store_->AddBan({10, "ours alone", std::nullopt, true}, kModerator, kNow + 9, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(10, "done", kModerator, kNow + 10, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(7, "done", kModerator, kNow + 10, nullptr).ok());
  int64_t head = 0;
  ASSERT_TRUE(store_->FeedHead(&head).ok());
  EXPECT_EQ(head, 3);
  std::vector<FeedChange> feed;
  ASSERT_TRUE(store_->FeedChanges(2, 1000, &feed).ok());
  std::vector<std::tuple<int64_t, FeedChangeKind, UnixTime, uint64_t, std::string>> changes;
  for (const FeedChange& change : feed) {
    changes.emplace_back(change.seq, change.change, change.at, change.ban.playerId, change.ban.ref);
  }
  const std::string banned = Events().at(2).second["ref"];
  const std::string spammer = Events().at(7).second["ref"];
  EXPECT_EQ(changes, (decltype(changes){{2, FeedChangeKind::kLifted, kNow + 3, 9, banned},
                                        {3, FeedChangeKind::kMade, kNow + 6, 8, spammer}}));
  std::vector<Ban> listed;
  ASSERT_TRUE(store_->ListBans(true, kNow, &listed).ok());
  EXPECT_TRUE(listed.at(0).playerId == 10 && listed.at(0).isPrivate && !listed.at(1).isPrivate);
}

// Instances claim deliveries without handing one out twice; an attempt is
// finished as delivered, to be retried, given up, or disabling its
// endpoint; and events go after 30 days with their deliveries.
TEST_P(StoreTest, DeliveriesAreClaimedOnceAndFinished) {
  const int64_t first = AddWebhook(WebhookFormat::kStandard, {});
  const int64_t second = AddWebhook(WebhookFormat::kDiscord, {});
  for (uint64_t player = 1; player <= 20; ++player) {
    ASSERT_TRUE(store_->AddBan({player, "aimbot", std::nullopt}, kModerator, kNow, nullptr).ok());
  }
  std::unique_ptr<Store> stores[2];
  for (auto& store : stores) ASSERT_TRUE(Open(url_, &store));
  std::vector<std::pair<int64_t, int64_t>> claimed[2];
  std::atomic<int> failures{0};
  std::thread claimers[2];
  for (int i = 0; i < 2; ++i) {
    claimers[i] = std::thread([&, i] {
      std::vector<Delivery> batch;
      do {
        if (!stores[i]->ClaimDeliveries(kNow, 60, 3, 100, &batch).ok()) failures++;
        for (const Delivery& delivery : batch) claimed[i].emplace_back(delivery.event.row, delivery.endpoint.id);
      } while (!batch.empty());
    });
  }
  for (std::thread& claimer : claimers) claimer.join();
  EXPECT_EQ(failures, 0);
  std::set<std::pair<int64_t, int64_t>> distinct(claimed[0].begin(), claimed[0].end());
  distinct.insert(claimed[1].begin(), claimed[1].end());
  EXPECT_EQ(claimed[0].size() + claimed[1].size(), 40u);
  EXPECT_EQ(distinct.size(), 40u);

  // The lease runs out: the oldest come again, with what they carry.
  std::vector<Delivery> batch;
  ASSERT_TRUE(store_->ClaimDeliveries(kNow + 59, 60, 100, 100, &batch).ok());
  EXPECT_TRUE(batch.empty());
  ASSERT_TRUE(store_->ClaimDeliveries(kNow + 60, 60, 4, 2, &batch).ok());
  ASSERT_EQ(batch.size(), 4u) << "two each: one receiver's backlog leaves room for the other";
  std::vector<Delivery> more;
  ASSERT_TRUE(store_->ClaimDeliveries(kNow + 60, 60, 4, 2, &more).ok());
  EXPECT_TRUE(more.empty()) << "each endpoint has its two under way";
  EXPECT_EQ(batch[0].event.type, "ban.created");
  EXPECT_EQ(batch[0].event.id.substr(0, 4), "msg_");
  EXPECT_EQ(nlohmann::json::parse(batch[0].event.data)["playerId"], "1");
  EXPECT_EQ(batch[0].endpoint.secret, "whsec_c2VjcmV0");
  EXPECT_EQ(batch[0].attempts, 0);
  const UnixTime later = kNow + 60;
  auto finish = [&](const Delivery& delivery, const DeliveryOutcome& outcome, UnixTime at) {
    return store_->FinishDelivery(delivery.event.row, delivery.endpoint.id, outcome, at);
  };
  ASSERT_TRUE(finish(batch[0], {false, 500, "HTTP 500", later + 30, false, ""}, later).ok());
  ASSERT_TRUE(finish(batch[1], {true, 204, "", std::nullopt, false, ""}, later).ok());
  ASSERT_TRUE(finish(batch[2], {false, std::nullopt, "connection refused", std::nullopt, false, ""}, later).ok());
  std::vector<WebhookEndpoint> endpoints;
  ASSERT_TRUE(store_->Webhooks(&endpoints).ok());
  ASSERT_EQ(endpoints.size(), 2u);
  EXPECT_EQ(endpoints[0].failingSince, later);

  std::vector<Delivery> retried;
  ASSERT_TRUE(store_->ClaimDeliveries(later + 30, 60, 100, 100, &retried).ok());
  ASSERT_EQ(retried.size(), 37u) << "the one delivered, the one given up and the one claimed wait no more";
  EXPECT_EQ(retried.back().event.row, batch[0].event.row) << "due last";
  EXPECT_EQ(retried.back().attempts, 1);
  EXPECT_EQ(retried.back().firstAttemptAt, later);
  ASSERT_TRUE(finish(retried.back(), {true, 200, "", std::nullopt, false, ""}, later + 30).ok());
  std::vector<DeliveryRecord> log;
  ASSERT_TRUE(store_->RecentDeliveries(first, 100, &log).ok());
  ASSERT_EQ(log.size(), 20u);
  const DeliveryRecord& done = log.back();
  EXPECT_TRUE(done.delivered);
  EXPECT_EQ(done.attempts, 2);
  EXPECT_EQ(done.status, 200);
  EXPECT_EQ(done.lastAt, later + 30);
  EXPECT_EQ(done.nextAt, std::nullopt);

  // 410 disables the endpoint: its deliveries wait, a test is refused.
  const Delivery toSecond = retried[0].endpoint.id == second ? retried[0] : retried[1];
  ASSERT_TRUE(finish(toSecond, {false, 410, "HTTP 410", later + 90, true, "the receiver answered 410 Gone"},
                     later + 30)
                  .ok());
  EXPECT_EQ(store_->TestWebhook(second, kModerator, later + 31).kind(), Result::Kind::kConflict);
  ASSERT_TRUE(store_->Webhooks(&endpoints).ok());
  EXPECT_EQ(endpoints[0].failingSince, std::nullopt) << "delivered since";
  EXPECT_EQ(endpoints[1].disabledAt, later + 30);
  EXPECT_EQ(endpoints[1].disabledWhy, "the receiver answered 410 Gone");
  ASSERT_TRUE(store_->TestWebhook(first, kModerator, later + 31).ok());
  ASSERT_TRUE(store_->ClaimDeliveries(later + 200, 60, 100, 100, &retried).ok());
  ASSERT_EQ(retried.size(), 19u);
  EXPECT_EQ(retried.back().event.type, "webhook.test");
  for (const Delivery& delivery : retried) EXPECT_EQ(delivery.endpoint.id, first);

  // Removed, an endpoint takes its deliveries along; 30 days on, every event goes.
  ASSERT_TRUE(store_->RemoveWebhook(second, kModerator, later + 300).ok());
  EXPECT_EQ(store_->RemoveWebhook(second, kModerator, later + 300).kind(), Result::Kind::kNotFound);
  EXPECT_EQ(store_->TestWebhook(second, kModerator, later + 300).kind(), Result::Kind::kNotFound);
  EXPECT_EQ(finish(toSecond, {true, 204, "", std::nullopt, false, ""}, later + 300).kind(), Result::Kind::kNotFound);
  ASSERT_TRUE(store_->Prune(0, 0, kNow + kEventsKept).ok());
  EXPECT_EQ(Events().size(), 21u);
  ASSERT_TRUE(store_->Prune(0, 0, kNow + kEventsKept + 1).ok());
  EXPECT_EQ(Events().size(), 1u) << "the test, made later";
  ASSERT_TRUE(store_->RecentDeliveries(first, 100, &log).ok());
  EXPECT_EQ(log.size(), 1u);
  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 0, "webhook-remove"}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].before)["url"], "https://example.com/…") << "a discord URL is a secret";
}

// A child process makes bans and says which after each returns; it is
// killed mid-burst, and every ban it said was made is there.
// A bot's token: found by its hash alone, a bucket of requests each, gone
// with its removal. And what bots read: the bans by their last change, and
// the audit a page at a time.
TEST_P(StoreTest, TokensAndWhatBotsFollow) {
  ApiToken made;
  ASSERT_TRUE(store_->AddToken("bot", TokenScope::kModerate, "hash-1", kModerator, kNow, &made).ok());
  EXPECT_EQ(store_->AddToken("bot", TokenScope::kRead, "hash-2", kModerator, kNow, nullptr).kind(),
            Result::Kind::kConflict);
  ASSERT_TRUE(store_->AddToken("reader", TokenScope::kRead, "hash-2", kModerator, kNow, nullptr).ok());
  const TokenLimits limits{2, 60};
  std::optional<ApiToken> found;
  UnixTime wait = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(store_->FindToken("hash-1", limits, kNow + 5, &found, &wait).ok());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->scope, TokenScope::kModerate);
    EXPECT_EQ(wait, i < 2 ? 0 : 60) << "a burst of two, then one a minute";
  }
  ASSERT_TRUE(store_->FindToken("hash-1", limits, kNow + 65, &found, &wait).ok());
  EXPECT_EQ(wait, 0);
  std::vector<ApiToken> tokens;
  ASSERT_TRUE(store_->Tokens(&tokens).ok());
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].name, "bot");
  EXPECT_EQ(tokens[0].lastUsedAt, kNow + 65);
  EXPECT_EQ(tokens[1].lastUsedAt, std::nullopt);
  ASSERT_TRUE(store_->RemoveToken("bot", kModerator, kNow + 70).ok());
  EXPECT_EQ(store_->RemoveToken("bot", kModerator, kNow + 70).kind(), Result::Kind::kNotFound);
  ASSERT_TRUE(store_->FindToken("hash-1", limits, kNow + 71, &found, &wait).ok());
  EXPECT_FALSE(found.has_value());
  // A name given again starts with a full bucket of its own.
  ASSERT_TRUE(store_->AddToken("bot", TokenScope::kRead, "hash-3", kModerator, kNow + 72, nullptr).ok());
  ASSERT_TRUE(store_->FindToken("hash-3", limits, kNow + 72, &found, &wait).ok());
  EXPECT_EQ(wait, 0);

  std::vector<AuditEntry> audit;
  ASSERT_TRUE(store_->Audit({"", 0, "token-remove"}, 10, &audit).ok());
  ASSERT_EQ(audit.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(audit[0].before), (nlohmann::json{{"name", "bot"}, {"scope", "moderate"}}));
  std::vector<AuditEntry> older;
  ASSERT_TRUE(store_->Audit({"", 0, "", audit[0].id}, 10, &older).ok());
  ASSERT_EQ(older.size(), 2u);
  EXPECT_EQ(older[0].action, "token-add");

  // 1 made, 2 made, 1 lifted: 2 then 1, each once its second is over.
  ASSERT_TRUE(store_->AddBan({1, "a", std::nullopt}, kModerator, kNow, nullptr).ok());
  ASSERT_TRUE(store_->AddBan({2, "b", std::nullopt}, kModerator, kNow + 1, nullptr).ok());
  ASSERT_TRUE(store_->LiftBan(1, "c", kModerator, kNow + 2, nullptr).ok());
  std::vector<Ban> bans;
  ASSERT_TRUE(store_->BansChanged({0, 0}, kNow + 2, 10, &bans).ok());
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].playerId, 2u);
  ASSERT_TRUE(store_->BansChanged({bans[0].madeAt, bans[0].id}, kNow + 3, 1, &bans).ok());
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].playerId, 1u);
  ASSERT_TRUE(store_->BansChanged({kNow + 2, 0}, kNow + 3, 10, &bans).ok());
  EXPECT_EQ(bans.size(), 1u) << "since the lift";
}

TEST_P(StoreTest, AcknowledgedBansSurviveKill9) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeEnds[0]);
    std::unique_ptr<Store> store;
    if (!OpenStore(url_, &store).ok()) _exit(1);
    for (uint64_t id = 1;; ++id) {
      if (!store->AddBan({id, "burst", std::nullopt}, kModerator, kNow, nullptr).ok()) _exit(1);
      if (write(pipeEnds[1], &id, sizeof id) != sizeof id) _exit(1);
    }
  }
  close(pipeEnds[1]);
  std::vector<uint64_t> acknowledged;
  uint64_t id = 0;
  while (acknowledged.size() < 20 && read(pipeEnds[0], &id, sizeof id) == sizeof id) acknowledged.push_back(id);
  kill(child, SIGKILL);
  while (read(pipeEnds[0], &id, sizeof id) == sizeof id) acknowledged.push_back(id);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;
  ASSERT_GE(acknowledged.size(), 20u);

  std::unique_ptr<Store> reopened;
  ASSERT_TRUE(Open(url_, &reopened));
  std::vector<Standing> standings;
  ASSERT_TRUE(reopened->Standings(acknowledged, kNow, kNow, &standings).ok());
  for (const Standing& standing : standings) EXPECT_TRUE(standing.banned) << standing.playerId;
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return info.param == Backend::kSqlite ? "Sqlite" : "Postgres"; });

TEST(OpenStoreTest, SaysWhyADatabaseCannotBeUsed) {
  TempDir dir;
  const struct {
    std::string url;
    Result::Kind kind;
  } cases[] = {
      {"sqlite:", Result::Kind::kInvalid},
      {(dir.path() / "missing" / "x.db").string(), Result::Kind::kUnavailable},
      {dir.Write("not-a-database", std::string(4096, 'x')).string(), Result::Kind::kUnavailable},
      {"postgresql:///x?host=" + (dir.path() / "no-server").string(), Result::Kind::kUnavailable},
      // Wrong for good, not a server away for a while: the service exits.
      {"postgresql://[::1/x", Result::Kind::kInvalid},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Store> store;
    EXPECT_EQ(OpenStore(c.url, &store).kind(), c.kind) << c.url;
    EXPECT_FALSE(store) << c.url;
  }
}

}  // namespace
}  // namespace palisard
