#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"

namespace palisard {

// Seconds since 1970-01-01 UTC. The store never reads a clock: every call
// that depends on the time is handed `now`, so tests choose it.
using UnixTime = int64_t;

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

  bool InForce(UnixTime now) const { return !lift && (!until || now < *until); }
};

struct NewBan {
  uint64_t playerId = 0;
  std::string reason;
  std::optional<UnixTime> until;  // nothing: permanent
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
};

// Why a report was or was not recorded. Refusals are counted, never stored
// as reports. kInvalid: an id is 0, or a player reports himself.
enum class ReportVerdict { kRecorded, kNetworkLimit, kPairLimit, kReportedLimit, kInvalid };

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
  std::string decision;  // "banned" or "dismissed"
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

// Everything the store holds about one player.
struct PlayerFile {
  std::vector<Ban> bans;        // newest first
  std::vector<Case> cases;      // newest first
  std::vector<Report> reports;  // reports of the player, newest first
};

// One line of the append-only audit.
struct AuditEntry {
  int64_t id = 0;
  UnixTime at = 0;
  std::string actor;
  std::string from;
  std::string action;  // "ban", "lift", "dismiss", "import", ...
  uint64_t playerId = 0;
  std::string before;  // the record before the change, as JSON; empty for a new one
  std::string after;   // and after it
};

// The one seam between palisard-service and its database. Every operation is
// one transaction: it is committed before the call returns ok, so an answer
// or a "done" that follows it survives a crash. Failures come back as a
// Result (kUnavailable when the database cannot be reached, kNotFound,
// kConflict, kInvalid), never as an exception.
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
  // Lifts the player's bans in force (an import can add a second one);
  // `lifted` is the newest. kNotFound when there is none.
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
  // refusal is counted (see RefusedReports), not stored.
  virtual Result RecordReport(const NewReport& report, const ReportLimits& limits, UnixTime now,
                              ReportOutcome* outcome) = 0;
  // How many reports were refused since `since`, by verdict.
  virtual Result RefusedReports(UnixTime since, std::vector<std::pair<ReportVerdict, uint64_t>>* counts) = 0;
  // Open cases, most distinct source networks first.
  virtual Result OpenCases(std::vector<Case>* cases) = 0;
  // Closes an open case as "dismissed". kNotFound when no open case has the id.
  virtual Result DismissCase(int64_t caseId, const std::string& reason, const Actor& actor, UnixTime now) = 0;
  virtual Result Player(uint64_t playerId, PlayerFile* file) = 0;

  // The audit, newest first, at most `limit` entries.
  virtual Result Audit(std::size_t limit, std::vector<AuditEntry>* entries) = 0;

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

  // Service-wide settings every instance shares.
  virtual Result GetSetting(const std::string& key, std::optional<std::string>* value) = 0;
  virtual Result SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) = 0;
};

// Opens the store a URL names, creating and migrating its schema as needed:
// "postgresql://..." or "postgres://..." (libpq's connection URL), or a path
// to an SQLite file (or "sqlite:PATH"). Migrations run under a lock, so
// instances starting together do not race.
Result OpenStore(const std::string& url, std::unique_ptr<Store>* store);

}  // namespace palisard
