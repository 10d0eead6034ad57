#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "store/sql_database.h"
#include "store/sightings.h"
#include "store/sql_record.h"
#include "store/store.h"

namespace palisard {

// The condition that a ban is in force (see Ban::InForce) at the time bound
// as parameter $`now`, on the bans table's columns.
std::string InForce(int now);

// 128 random bits in hex: unique across every store without asking them.
Result NewRef(std::string* ref);

// The audit line of `actor`'s change at `now`.
AuditEntry AuditLine(AuditAction action, const Actor& actor, UnixTime now, uint64_t playerId, std::string before,
                     std::string after);

// The Store, written once over either database. Writers that read before
// they write (is a ban in force? how many reports this hour?) first take
// the lock of the player or network they decide about (LockUntilEnd), so
// several connections and processes on one database stay within the rules.
class SqlStore final : public Store {
 public:
  // `db`'s schema is migrated already.
  explicit SqlStore(std::unique_ptr<SqlDatabase> db) : db_(std::move(db)) {}

  Result AddBan(const NewBan& ban, const Actor& actor, UnixTime now, Ban* made) override;
  Result LiftBan(uint64_t playerId, const std::string& reason, const Actor& actor, UnixTime now, Ban* lifted) override;
  Result ListBans(bool includePast, UnixTime now, std::vector<Ban>* bans) override;
  Result Standings(const std::vector<uint64_t>& ids, UnixTime now, UnixTime scoreSince,
                   std::vector<Standing>* standings) override;

  Result RecordReport(const NewReport& report, const ReportLimits& limits, UnixTime now,
                      ReportOutcome* outcome) override;
  Result OpenCases(std::vector<Case>* cases) override;
  Result DismissCase(int64_t caseId, const std::string& reason, const Actor& actor, UnixTime now) override;
  Result Player(uint64_t playerId, PlayerFile* file) override;

  Result Audit(const AuditFilter& filter, std::size_t limit, std::vector<AuditEntry>* entries) override;

  Result CaseReports(int64_t caseId, UnixTime before, UnixTime after, std::vector<WitnessedReport>* reports) override;
  Result RecordSightings(const std::vector<Sighting>& sightings) override;
  Result Prune(UnixTime staysBefore, UnixTime failuresBefore, UnixTime now) override;
  Result RecordAppeal(const NewAppeal& appeal, const AppealLimits& limits, UnixTime now,
                      AppealVerdict* verdict) override;
  Result OpenAppeals(std::size_t offset, std::size_t limit, std::vector<Appeal>* appeals,
                     std::size_t* total) override;
  Result RejectAppeal(int64_t appealId, const std::string& reason, const Actor& actor, UnixTime now) override;
  Result AddMute(MuteKind kind, const std::string& subject, const std::string& reason, const Actor& actor,
                 UnixTime now) override;
  Result LiftMute(int64_t muteId, const Actor& actor, UnixTime now) override;
  Result Mutes(std::vector<Mute>* mutes) override;

  Result AddModerator(const std::string& name, ModeratorRole role, const std::string& passwordHash, const Actor& actor,
                      UnixTime now) override;
  Result RemoveModerator(const std::string& name, const Actor& actor, UnixTime now) override;
  Result Moderators(std::vector<Moderator>* moderators) override;
  Result BeginSignIn(const std::string& network, const SignInLimits& limits, const Actor& actor, UnixTime now,
                     SignInAttempt* attempt) override;
  Result FinishSignIn(const SignInAttempt& attempt, const std::optional<std::string>& tokenHash, UnixTime expiresAt,
                      const Actor& actor, UnixTime now) override;
  Result FindSession(const std::string& tokenHash, UnixTime now, std::optional<SessionInfo>* session) override;
  Result EndSession(const std::string& tokenHash, const Actor& actor, UnixTime now) override;

  Result ForEachBan(const std::function<void(const Ban&)>& visit) override;
  Result ImportBans(const std::vector<Ban>& bans, bool dryRun, const Actor& actor, UnixTime now,
                    std::size_t* added) override;

  Result GetSetting(const std::string& key, std::optional<std::string>* value) override;
  Result SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) override;

  Result AddWebhook(const NewWebhookEndpoint& endpoint, const Actor& actor, UnixTime now,
                    WebhookEndpoint* made) override;
  Result RemoveWebhook(int64_t id, const Actor& actor, UnixTime now) override;
  Result Webhooks(std::vector<WebhookEndpoint>* endpoints) override;
  Result TestWebhook(int64_t id, const Actor& actor, UnixTime now) override;
  Result ClaimDeliveries(UnixTime now, UnixTime lease, std::size_t limit, std::size_t perEndpoint,
                         std::vector<Delivery>* deliveries) override;
  Result FinishDelivery(int64_t eventRow, int64_t endpointId, const DeliveryOutcome& outcome, UnixTime now) override;
  Result RecentDeliveries(int64_t endpointId, std::size_t limit, std::vector<DeliveryRecord>* records) override;

  Result AddToken(const std::string& name, TokenScope scope, const std::string& tokenHash, const Actor& actor,
                  UnixTime now, ApiToken* made) override;
  Result RemoveToken(const std::string& name, const Actor& actor, UnixTime now) override;
  Result Tokens(std::vector<ApiToken>* tokens) override;
  Result FindToken(const std::string& tokenHash, const TokenLimits& limits, UnixTime now,
                   std::optional<ApiToken>* token, UnixTime* wait) override;
  Result BansChanged(const BanCursor& after, UnixTime before, std::size_t limit, std::vector<Ban>* bans) override;
  Result FeedChanges(int64_t from, int64_t to, std::vector<FeedChange>* changes) override;
  Result FeedHead(int64_t* seq) override;

 private:
  // Steps of the transactions above; each expects one to be open.
  // `where` and `order` are the store's own constant SQL, never input.
  Result QueryBans(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                   std::vector<Ban>* bans);
  Result BansInForce(uint64_t playerId, UnixTime now, std::vector<Ban>* bans);
  Result InsertBan(Ban* ban);
  // Numbers the change of ban `banId` at `now` as the feed's next one.
  Result AppendFeedChange(int64_t banId, FeedChangeKind change, UnixTime now);
  Result CloseOpenCase(uint64_t playerId, CaseDecision decision, const Actor& actor, const std::string& reason,
                       UnixTime now, int64_t* caseId);
  Result AppendAudit(const AuditEntry& entry);
  Result ImportOne(Ban ban, const Actor& actor, UnixTime now, std::vector<std::string>* refs);
  // Takes a token from the bucket named `bucket`, which holds `burst` and
  // refills `perHour`; call with its lock held.
  Result TakeToken(const std::string& bucket, double burst, double perHour, UnixTime now, bool* taken);
  Result IsMuted(const NewReport& report, bool* muted);
  Result QueryReports(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                      std::vector<Report>* reports);
  Result QueryAppeals(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                      std::vector<Appeal>* appeals);
  Result GrantOpenAppeals(uint64_t playerId, const Actor& actor, const std::string& reason, UnixTime now,
                          std::vector<int64_t>* appealIds);
  // Within a write transaction: one host's requests, and the stays they
  // begin, end or change.
  Result RecordHostRequests(const std::vector<const Sighting*>& requests, std::vector<StayWrite>* writes);
  Result WriteStays(const std::vector<StayWrite>& writes);
  Result ForgetStays(UnixTime before);
  Result CheckPlayerLimits(const NewReport& report, const ReportLimits& limits, UnixTime now, ReportVerdict* verdict);
  // Counts one refusal (one of the AuditActions that are refusals) in its
  // window, outside the audit.
  Result CountRefusal(AuditAction kind, const std::string& subject, const std::string& network, UnixTime now);
  // Turns the tallies of windows ended by `now` into audit rows.
  Result FoldRefusals(UnixTime now);
  Result AccountFailures(const std::string& account, const std::string& network, const SignInLimits& limits,
                         UnixTime now, int64_t* failures);
  // The player's open case, `opened` by this call or not.
  Result OpenCaseOf(uint64_t playerId, UnixTime now, int64_t* caseId, bool* opened);
  Result AppendCaseEvents(int64_t caseId, uint64_t playerId, bool opened, int64_t networksBefore, int threshold,
                          UnixTime now);
  Result QueryCases(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                    std::vector<Case>* cases);
  // A case's reports and the distinct networks they came from.
  Result CaseCounts(int64_t caseId, int64_t* reports, int64_t* networks);
  // Writes an event of `type` (of webhook_events.h) with a delivery due at
  // `now` for each enabled endpoint whose filter takes it. kFailed when
  // `data`'s keys are not the type's fields.
  Result AppendEvent(std::string_view type, const nlohmann::json& data, UnixTime now);
  // The event alone; `row` is its row's id.
  Result InsertEvent(std::string_view type, const nlohmann::json& data, UnixTime now, int64_t* row);
  // kNotFound when no endpoint has the id.
  Result EndpointById(int64_t id, WebhookEndpoint* endpoint);
  // Events made before `before`, with their deliveries.
  Result ForgetEvents(UnixTime before);

  std::unique_ptr<SqlDatabase> db_;
};

}  // namespace palisard
