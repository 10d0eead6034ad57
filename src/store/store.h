#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "store/record_words.h"

namespace palisard {

// Seconds since 1970-01-01 UTC. The store never reads a clock: every call
// that depends on the time is handed `now`, so tests choose it.
using UnixTime = int64_t;

// Refusals are counted in windows of this length, and a window of one
// kind becomes at most this many audit rows.
inline constexpr UnixTime kRefusalWindow = 15 * 60;
inline constexpr std::size_t kRefusalRowsPerWindow = 6;
// A network an account signed in from stays known this long after.
inline constexpr UnixTime kKnownNetworkKept = 90 * 24 * 3600;

// Who made a change and from where, as the audit records it.
struct Actor {
  std::string name;  // "cli:root", a moderator's name, "import"
  std::string from;  // "cli", or the address a request came from
};

struct BanLift {
  std::string by;
  UnixTime at = 0;
  std::string reason;
};

// A ban is never deleted: it runs out or is lifted, and stays on record.
struct Ban {
  int64_t id = 0;
  std::string ref;  // unique across stores: what export and import match on
  uint64_t playerId = 0;
  std::string reason;
  std::string madeBy;
  UnixTime madeAt = 0;
  std::optional<UnixTime> until;  // nothing: permanent
  std::optional<BanLift> lift;
  bool isPrivate = false;  // kept out of the community's shared feed

  bool InForce(UnixTime now) const { return !lift && (!until || now < *until); }
};

struct NewBan {
  uint64_t playerId = 0;
  std::string reason;
  std::optional<UnixTime> until;  // nothing: permanent
  bool isPrivate = false;         // kept out of the community's shared feed
};

// One change in the community's shared feed: its own bans (never imported
// ones, never private ones), numbered 1, 2, ... in the order their
// transactions committed, without gaps. `ban` is the ban as it stands now;
// the change's time is `at`.
struct FeedChange {
  int64_t seq = 0;
  FeedChangeKind change = FeedChangeKind::kMade;
  UnixTime at = 0;
  Ban ban;
};

// What GetBanList answers for one player.
struct Standing {
  uint64_t playerId = 0;
  bool banned = false;  // a ban is in force
  uint32_t score = 0;   // distinct source networks that reported the player since `scoreSince`
};

struct NewReport {
  uint64_t reporterId = 0;
  uint64_t reportedId = 0;
  std::string network;  // the source network: "203.0.113.0/24", "2001:db8:1:2::/64"
};

// Limits on reports, kept in the store so that every instance applies them
// to the same counts. Forged reporter ids cost nothing, so the source
// network is the key that matters. Every report that gets past the
// network's bucket takes a token from it, also one the other limits refuse:
// repeating a report is not free. The windows are the 24 hours and the hour
// before the report.
struct ReportLimits {
  double networkBurst = 20;    // a network's bucket holds this many reports
  double networkPerHour = 60;  // and refills at this rate
  int pairPerDay = 1;          // reports of one player by one reporter id in 24 h
  int reportedPerHour = 30;    // reports of one player in an hour, from anyone
  int caseThreshold = 3;       // a case's distinct networks that make the case.threshold event
};

struct ReportOutcome {
  ReportVerdict verdict = ReportVerdict::kRecorded;
  bool reportedBanned = false;  // recorded, and a ban of the reported player is in force now
  int64_t caseId = 0;           // the case the report joined; 0 when none
};

struct Report {
  int64_t id = 0;
  uint64_t reporterId = 0;
  uint64_t reportedId = 0;
  std::string network;
  UnixTime at = 0;
  int64_t caseId = 0;  // 0: not part of a case (the player was banned then)
};

struct CaseClosing {
  std::string decision;  // a CaseDecision's or an AppealDecision's word
  std::string by;
  UnixTime at = 0;
  std::string reason;
};

// The reports of one player, grouped so that one decision closes them all.
// A player has at most one open case.
struct Case {
  int64_t id = 0;
  uint64_t playerId = 0;
  UnixTime openedAt = 0;
  std::optional<CaseClosing> closing;  // nothing while open
  uint32_t reports = 0;
  uint32_t networks = 0;   // distinct source networks among them
  uint32_t reporters = 0;  // distinct reporter ids among them
  UnixTime firstReportAt = 0;
  UnixTime lastReportAt = 0;
};

// A report as the queue weighs it: how many distinct source networks,
// other than the reporter's own, hosts asked from whose ban requests named
// the reporter and the reported player together around the report. A
// forger on one network cannot make this more than 0.
struct WitnessedReport {
  Report report;
  uint32_t hostNetworks = 0;
};

// What one host's GetBanList named: the players present in its match.
struct Sighting {
  std::string source;   // the host's address (an IPv6 host by its /64)
  std::string network;  // the host's source network
  UnixTime at = 0;
  std::vector<uint64_t> ids;
};

// A player's appeal against his ban: a case of its own kind, closed
// "granted" when the ban is lifted, or "rejected".
struct Appeal {
  int64_t id = 0;
  uint64_t playerId = 0;
  std::string text;
  std::string network;
  UnixTime madeAt = 0;
  std::optional<CaseClosing> closing;  // nothing while open
};

struct NewAppeal {
  uint64_t playerId = 0;
  std::string text;
  std::string network;
};

// Anyone may appeal in any player's name, so the source network is the key:
// a bucket per network, as reports have, but a small one; and one for all
// networks together, so that many networks cannot bury the queue.
struct AppealLimits {
  double networkBurst = 3;
  double networkPerHour = 0.25;
  double allBurst = 50;
  double allPerHour = 20;
};

struct Mute {
  int64_t id = 0;
  MuteKind kind = MuteKind::kReporter;
  std::string subject;  // the reporter id in decimal, or the network
  std::string reason;
  std::string madeBy;
  UnixTime madeAt = 0;
};

// Everything the store holds about one player.
struct PlayerFile {
  std::vector<Ban> bans;          // newest first
  std::vector<Case> cases;        // newest first
  std::vector<Report> reports;    // reports of the player, newest first
  std::vector<Report> reportsBy;  // reports the player made, newest first
  std::vector<Appeal> appeals;    // newest first
};

// An account of the moderation pages. Its password hash never leaves the
// store except for a sign-in to check it.
struct Moderator {
  int64_t id = 0;
  std::string name;
  ModeratorRole role = ModeratorRole::kModerator;
  std::string createdBy;
  UnixTime createdAt = 0;
};

// Lock-out, without checking the password, until the oldest failure that
// counts leaves its window:
// - a source network with networkFailures failed sign-ins (to any account)
//   within `window`;
// - an account, for networks it never signed in from (strangers), with
//   accountFailures failures from such networks within `strangerWindow`:
//   whoever guesses its password from elsewhere has that many tries an
//   hour;
// - an account on one of its known networks, with accountFailures failures
//   from that network within `window`.
// So strangers can lock an account out only on networks its moderator has
// not signed in from; where he has, he still gets in.
struct SignInLimits {
  int accountFailures = 5;
  int networkFailures = 20;
  UnixTime window = 15 * 60;
  UnixTime strangerWindow = 60 * 60;
};

// One sign-in under way. It counts as a failure from BeginSignIn on, so
// that attempts checked at the same time (in any instance) cannot exceed
// the limits; FinishSignIn with the right password takes that back.
struct SignInAttempt {
  int64_t id = 0;
  std::string network;  // where it came from
  bool locked = false;  // refused unheard
  std::optional<Moderator> account;
  std::string passwordHash;  // the account's; empty when no account has the name
};

struct SessionInfo {
  Moderator moderator;
  UnixTime expiresAt = 0;
};

// Which audit lines to show; empty fields and 0 match everything.
struct AuditFilter {
  std::string actor;
  uint64_t playerId = 0;
  std::string action;
  int64_t beforeId = 0;  // only lines older than this one; 0: from the newest
};

// One line of the append-only audit.
struct AuditEntry {
  int64_t id = 0;
  UnixTime at = 0;
  std::string actor;
  std::string from;
  std::string action;  // an AuditAction's word
  uint64_t playerId = 0;
  std::string before;  // the record before the change, as JSON; empty for a new one
  std::string after;   // and after it
};

// ---- Webhooks: endpoints, the events outbox, deliveries
// (WebhookFormat, with its words "standard" and "discord", is in record_words.h.)

// Events are kept this long, delivered or not.
inline constexpr UnixTime kEventsKept = 30 * 24 * 3600;

struct WebhookEndpoint {
  int64_t id = 0;
  std::string url;
  WebhookFormat format = WebhookFormat::kStandard;
  std::vector<std::string> events;  // event types it takes; empty: all
  std::string secret;               // "whsec_..." for standard; empty for discord (the URL is the secret)
  std::string createdBy;
  UnixTime createdAt = 0;
  std::optional<UnixTime> disabledAt;
  std::string disabledWhy;               // empty while enabled
  std::optional<UnixTime> failingSince;  // first failure of the present run of failures
};

struct NewWebhookEndpoint {
  std::string url;
  WebhookFormat format = WebhookFormat::kStandard;
  std::vector<std::string> events;  // empty: all
  std::string secret;
};

struct StoredEvent {
  int64_t row = 0;
  std::string id;    // "msg_" + 32 hex digits: the webhook-id, the same on every retry
  std::string type;  // a type of webhook_events.h, or "webhook.test"
  UnixTime at = 0;
  std::string data;  // the event's `data` object as compact JSON
};

// One attempt to make: an event for one endpoint, claimed by this instance
// until `claimedUntil` (no other instance sends it meanwhile).
struct Delivery {
  StoredEvent event;
  WebhookEndpoint endpoint;
  int attempts = 0;             // made before this one
  UnixTime firstAttemptAt = 0;  // 0 before the first
};

struct DeliveryOutcome {
  bool delivered = false;
  std::optional<int> status;       // the receiver's HTTP status, none when no answer
  std::string error;               // empty when delivered
  std::optional<UnixTime> nextAt;  // when not delivered: the next attempt; none: given up
  bool disableEndpoint = false;    // 410, or failing for the retry window
  std::string disableWhy;
};

struct DeliveryRecord {  // one line of an endpoint's delivery log, newest first
  std::string eventId;
  std::string type;
  int attempts = 0;
  std::optional<int> status;
  std::string error;
  UnixTime lastAt = 0;
  bool delivered = false;
  std::optional<UnixTime> nextAt;
};

// ---- API tokens: what the community's bots bring (service/api)
// A token: only a hash of its secret is stored, so whoever reads the
// database cannot use it.
struct ApiToken {
  int64_t id = 0;
  std::string name;
  TokenScope scope = TokenScope::kRead;
  std::string createdBy;
  UnixTime createdAt = 0;
  std::optional<UnixTime> lastUsedAt;
};

// Each token's requests: a bucket, kept in the store so that every
// instance takes from the same one.
struct TokenLimits {
  double burst = 120;
  double perHour = 3600;
};

// Where a listing of bans by their last change goes on: after the ban
// `id` changed at `changedAt` (a ban changes when it is made and when it is
// lifted). {since, 0} starts at `since`.
struct BanCursor {
  UnixTime changedAt = 0;
  int64_t id = 0;
};

// The one seam between palisard-service and its database. Every operation is
// one transaction: it is committed before the call returns ok, so an answer
// or a "done" that follows it survives a crash. Failures come back as a
// Result (kUnavailable when the database cannot be reached, kNotFound,
// kConflict, kInvalid; kFailed for what the database holds that this program
// cannot read), never as an exception.
//
// Thread safety: one object is used by one thread at a time; a server opens
// one per worker or guards it. Several objects (and several processes) may
// use one database at once: rate counters and everything else live in it.
class Store {
 public:
  virtual ~Store() = default;

  // Makes a ban and closes the player's open case as "banned". kConflict
  // when a ban of the player is in force already (it is left as it is).
  virtual Result AddBan(const NewBan& ban, const Actor& actor, UnixTime now, Ban* made) = 0;
  // Lifts the player's bans in force (an import can add a second one) and
  // grants his open appeal; `lifted` is the newest. kNotFound when there is
  // none.
  virtual Result LiftBan(uint64_t playerId, const std::string& reason, const Actor& actor, UnixTime now,
                         Ban* lifted) = 0;
  // Bans in force at `now` (all bans with `includePast`), newest first.
  virtual Result ListBans(bool includePast, UnixTime now, std::vector<Ban>* bans) = 0;
  // One standing per id, in the order asked; the score counts reports made
  // at or after `scoreSince`.
  virtual Result Standings(const std::vector<uint64_t>& ids, UnixTime now, UnixTime scoreSince,
                           std::vector<Standing>* standings) = 0;

  // Applies the limits and, when they allow it, records the report in the
  // reported player's open case (opening one), all in one transaction. A
  // report of a player banned at `now` is recorded outside any case. A
  // refusal is counted (see Prune), not stored.
  virtual Result RecordReport(const NewReport& report, const ReportLimits& limits, UnixTime now,
                              ReportOutcome* outcome) = 0;
  // Open cases, most distinct source networks first.
  virtual Result OpenCases(std::vector<Case>* cases) = 0;
  // Closes an open case as "dismissed". kNotFound when no open case has the id.
  virtual Result DismissCase(int64_t caseId, const std::string& reason, const Actor& actor, UnixTime now) = 0;
  virtual Result Player(uint64_t playerId, PlayerFile* file) = 0;

  // The audit lines `filter` picks, newest first, at most `limit` of them.
  virtual Result Audit(const AuditFilter& filter, std::size_t limit, std::vector<AuditEntry>* entries) = 0;

  // Every ban, oldest first, for export.
  virtual Result ForEachBan(const std::function<void(const Ban&)>& visit) = 0;
  // Adds the bans whose ref the store does not hold yet, in one transaction
  // with one audit entry (none when nothing is added); `added` counts them.
  // A ban without a ref (from a plain list of ids) is added with a new one
  // unless the player is banned at `now` already, so a list imported twice
  // bans nobody twice; an empty madeBy or a madeAt of 0 become the actor and
  // `now`. An imported ban in force closes the player's open case as
  // "banned". Nothing is written with `dryRun`, and `added` says what would
  // have been.
  virtual Result ImportBans(const std::vector<Ban>& bans, bool dryRun, const Actor& actor, UnixTime now,
                            std::size_t* added) = 0;

  // The reports of a case, oldest first, each with whether one host's ban
  // requests named the reporter and the reported player together from
  // `before` seconds before the report to `after` seconds after it.
  virtual Result CaseReports(int64_t caseId, UnixTime before, UnixTime after,
                             std::vector<WitnessedReport>* reports) = 0;
  // Records whom hosts' ban requests named. A player named by one host
  // again within a few minutes stays there, so the store keeps each host's
  // match and each player's stays at hosts, written when they begin and
  // end, not each request (store/sightings.h); a host names at most the
  // players of one match at a time.
  virtual Result RecordSightings(const std::vector<Sighting>& sightings) = 0;
  // Forgets what no rule needs any more: stays that ended before
  // `staysBefore`, sign-in failures before `failuresBefore`, sessions
  // that ran out by `now`, networks an account has not signed in from for
  // kKnownNetworkKept. And folds the refusals of windows that ended by
  // `now` into the audit: refused and failed sign-ins, refused reports and
  // appeals are counted per kind, subject (account, verdict), network and
  // kRefusalWindow, and each kind's window becomes at most
  // kRefusalRowsPerWindow audit rows (the largest counts, then one for the
  // rest), whatever a stranger sends. Events made before now - kEventsKept
  // go with their deliveries.
  virtual Result Prune(UnixTime staysBefore, UnixTime failuresBefore, UnixTime now) = 0;

  // Records an appeal (audited, with the network as its origin) when the
  // player is banned at `now`, has no open appeal and the network's bucket
  // allows it.
  virtual Result RecordAppeal(const NewAppeal& appeal, const AppealLimits& limits, UnixTime now,
                              AppealVerdict* verdict) = 0;
  // The open appeals, newest first: `limit` of them from `offset` on, and
  // how many are open in all.
  virtual Result OpenAppeals(std::size_t offset, std::size_t limit, std::vector<Appeal>* appeals,
                             std::size_t* total) = 0;
  // Closes an open appeal as "rejected". kNotFound when no open appeal has
  // the id. Lifting the ban closes it as "granted".
  virtual Result RejectAppeal(int64_t appealId, const std::string& reason, const Actor& actor, UnixTime now) = 0;

  // kConflict when the same mute is in force already.
  virtual Result AddMute(MuteKind kind, const std::string& subject, const std::string& reason, const Actor& actor,
                         UnixTime now) = 0;
  // kNotFound when no mute in force has the id.
  virtual Result LiftMute(int64_t muteId, const Actor& actor, UnixTime now) = 0;
  // The mutes in force, newest first.
  virtual Result Mutes(std::vector<Mute>* mutes) = 0;

  // Accounts. kConflict for a name taken already; kNotFound for none.
  // Removing an account ends its sessions.
  virtual Result AddModerator(const std::string& name, ModeratorRole role, const std::string& passwordHash,
                              const Actor& actor, UnixTime now) = 0;
  virtual Result RemoveModerator(const std::string& name, const Actor& actor, UnixTime now) = 0;
  // By name.
  virtual Result Moderators(std::vector<Moderator>* moderators) = 0;

  // A sign-in of the account `actor.name` from `network`: locked, or
  // counted as a failure until it is finished. A locked attempt is audited
  // here; the others when they finish.
  virtual Result BeginSignIn(const std::string& network, const SignInLimits& limits, const Actor& actor, UnixTime now,
                             SignInAttempt* attempt) = 0;
  // With `tokenHash` (the password was right) the account's failures are
  // forgiven and a session whose token hashes to it opens until
  // `expiresAt`; without, the failure stays counted.
  virtual Result FinishSignIn(const SignInAttempt& attempt, const std::optional<std::string>& tokenHash,
                              UnixTime expiresAt, const Actor& actor, UnixTime now) = 0;
  // The session a token's hash names, while it has not run out; nothing
  // otherwise.
  virtual Result FindSession(const std::string& tokenHash, UnixTime now, std::optional<SessionInfo>* session) = 0;
  // Signs out (audited); a session gone already is no failure.
  virtual Result EndSession(const std::string& tokenHash, const Actor& actor, UnixTime now) = 0;

  // Service-wide settings every instance shares.
  virtual Result GetSetting(const std::string& key, std::optional<std::string>* value) = 0;
  virtual Result SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) = 0;

  // Webhooks. Events are written by the calls above in the transaction of
  // the change that causes them (see webhook_events.h), each with a
  // delivery for every enabled endpoint whose filter takes its type; Prune
  // forgets those older than kEventsKept.
  //
  // Adds an endpoint (audited); kInvalid for an unknown event type.
  virtual Result AddWebhook(const NewWebhookEndpoint& endpoint, const Actor& actor, UnixTime now,
                            WebhookEndpoint* made) = 0;
  // With its deliveries (audited); kNotFound.
  virtual Result RemoveWebhook(int64_t id, const Actor& actor, UnixTime now) = 0;
  // Oldest first.
  virtual Result Webhooks(std::vector<WebhookEndpoint>* endpoints) = 0;
  // Writes a "webhook.test" event for that endpoint only (kNotFound).
  virtual Result TestWebhook(int64_t id, const Actor& actor, UnixTime now) = 0;
  // Claims up to `limit` due deliveries (next attempt at or before `now`,
  // not claimed by another instance until after `now`, endpoint enabled)
  // until now + lease, oldest first for each endpoint; FOR UPDATE SKIP
  // LOCKED on PostgreSQL. An endpoint has at most `perEndpoint` claimed at
  // once (instances that claim at the same moment may each fill its room),
  // so that a slow receiver's backlog cannot take every attempt from the
  // others; endpoints with the fewest claimed are served first.
  virtual Result ClaimDeliveries(UnixTime now, UnixTime lease, std::size_t limit, std::size_t perEndpoint,
                                 std::vector<Delivery>* deliveries) = 0;
  // Records an attempt and ends the claim. A failure starts the endpoint's
  // run of failures (failingSince), a delivery ends it. kNotFound when the
  // delivery is gone (its endpoint removed, or pruned).
  virtual Result FinishDelivery(int64_t eventRow, int64_t endpointId, const DeliveryOutcome& outcome,
                                UnixTime now) = 0;
  // The endpoint's deliveries, newest event first, pending ones too.
  virtual Result RecentDeliveries(int64_t endpointId, std::size_t limit, std::vector<DeliveryRecord>* records) = 0;

  // ---- API tokens. Adding and removing are audited; kConflict for a name
  // taken, kNotFound for none.
  virtual Result AddToken(const std::string& name, TokenScope scope, const std::string& tokenHash,
                          const Actor& actor, UnixTime now, ApiToken* made) = 0;
  virtual Result RemoveToken(const std::string& name, const Actor& actor, UnixTime now) = 0;
  // By name.
  virtual Result Tokens(std::vector<ApiToken>* tokens) = 0;
  // The token a hash names (nothing for none), which takes one request from
  // its bucket and is stamped as used at `now`; when its bucket is empty,
  // `*wait` says in how many seconds it allows one, and nothing is stamped.
  virtual Result FindToken(const std::string& tokenHash, const TokenLimits& limits, UnixTime now,
                           std::optional<ApiToken>* token, UnixTime* wait) = 0;
  // Up to `limit` bans by their last change after `after`, oldest change
  // first, of those changed before `before`.
  virtual Result BansChanged(const BanCursor& after, UnixTime before, std::size_t limit, std::vector<Ban>* bans) = 0;

  // The feed's changes numbered `from` to `to` (both included), in order.
  virtual Result FeedChanges(int64_t from, int64_t to, std::vector<FeedChange>* changes) = 0;
  // The newest change's number; 0 while the feed is empty.
  virtual Result FeedHead(int64_t* seq) = 0;
};

// Opens the store a URL names, creating and migrating its schema as needed:
// "postgresql://..." or "postgres://..." (libpq's connection URL), or a path
// to an SQLite file (or "sqlite:PATH"). Migrations run under a lock, so
// instances starting together do not race, and are checked once per process
// and database: later opens of it in the same process use it as it is.
Result OpenStore(const std::string& url, std::unique_ptr<Store>* store);

}  // namespace palisard
