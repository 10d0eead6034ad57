#include "store/schema.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/record_words.h"
#include "store/sightings.h"
#include "store/sql_record.h"

namespace palisard {
namespace {

// One migration: SQL that both databases run, where {id} stands for a
// table's generated integer key, {bytes} for a binary column's type, and
// {roles}, {mute kinds}, {case decisions}, {appeal decisions}, {webhook
// formats}, {token scopes} and {feed changes} for the words of record_words.h; then, when it names
// one, the statements that make a table append-only, in the database's own
// words; then, when it has one, a step that moves records to their new
// form. Times are Unix seconds (BIGINT); player ids are their 64 bits in a
// BIGINT.
struct Migration {
  int64_t version;
  const char* name;
  const char* sql;
  const char* appendOnly;
  Result (*then)(SqlDatabase& db);
};

Result MovePresencesToStays(SqlDatabase& db);

const std::vector<Migration>& Migrations() {
  static const std::vector<Migration> migrations = {
      {1, "bans, reports in cases, rate counters, audit, settings",
       R"(
CREATE TABLE bans (
  id {id},
  ref TEXT NOT NULL UNIQUE,
  player_id BIGINT NOT NULL,
  reason TEXT NOT NULL,
  made_by TEXT NOT NULL,
  made_at BIGINT NOT NULL,
  ends_at BIGINT,
  lifted_by TEXT,
  lifted_at BIGINT,
  lift_reason TEXT
);
CREATE INDEX bans_player ON bans (player_id);

CREATE TABLE cases (
  id {id},
  player_id BIGINT NOT NULL,
  opened_at BIGINT NOT NULL,
  decision TEXT CHECK (decision IN ({case decisions})),
  closed_by TEXT,
  closed_at BIGINT,
  close_reason TEXT
);
-- A player has at most one open case: his reports gather in it.
CREATE UNIQUE INDEX cases_open ON cases (player_id) WHERE closed_at IS NULL;
CREATE INDEX cases_player ON cases (player_id);

CREATE TABLE reports (
  id {id},
  reporter_id BIGINT NOT NULL,
  reported_id BIGINT NOT NULL,
  network TEXT NOT NULL,
  reported_at BIGINT NOT NULL,
  case_id BIGINT REFERENCES cases (id)
);
-- The score (distinct networks since a time) and the hourly cap read only
-- this index; the pair limit reads the next.
CREATE INDEX reports_reported ON reports (reported_id, reported_at, network);
CREATE INDEX reports_pair ON reports (reported_id, reporter_id, reported_at);
CREATE INDEX reports_case ON reports (case_id);

-- Each source network's token bucket, in thousandths of a report.
CREATE TABLE network_buckets (
  network TEXT PRIMARY KEY,
  milli_tokens BIGINT NOT NULL,
  updated_at BIGINT NOT NULL
);

-- Refused reports are counted by verdict and hour, never stored.
CREATE TABLE refused_reports (
  verdict TEXT NOT NULL,
  hour BIGINT NOT NULL,
  refusals BIGINT NOT NULL,
  PRIMARY KEY (verdict, hour)
);

CREATE TABLE audit (
  id {id},
  made_at BIGINT NOT NULL,
  actor TEXT NOT NULL,
  origin TEXT NOT NULL,
  action TEXT NOT NULL,
  player_id BIGINT,
  before_json TEXT,
  after_json TEXT
);
CREATE INDEX audit_player ON audit (player_id);

CREATE TABLE settings (
  name TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
)",
       // The audit is append-only, whoever holds the connection.
       "audit", nullptr},
      {2, "moderators, sessions, sign-in failures, presences, appeals, mutes",
       R"(
CREATE TABLE moderators (
  id {id},
  name TEXT NOT NULL UNIQUE,
  role TEXT NOT NULL CHECK (role IN ({roles})),
  password_hash TEXT NOT NULL,
  created_by TEXT NOT NULL,
  created_at BIGINT NOT NULL
);

-- Only a hash of a session's token is kept: whoever reads the database
-- cannot sign in with it.
CREATE TABLE sessions (
  token_hash TEXT PRIMARY KEY,
  moderator_id BIGINT NOT NULL REFERENCES moderators (id),
  created_at BIGINT NOT NULL,
  expires_at BIGINT NOT NULL
);
CREATE INDEX sessions_moderator ON sessions (moderator_id);
CREATE INDEX sessions_expiry ON sessions (expires_at);

-- One row per sign-in not proven right, counted per account and per network.
CREATE TABLE sign_in_failures (
  id {id},
  account TEXT NOT NULL,
  network TEXT NOT NULL,
  failed_at BIGINT NOT NULL
);
CREATE INDEX sign_in_failures_account ON sign_in_failures (account, failed_at);
CREATE INDEX sign_in_failures_network ON sign_in_failures (network, failed_at);

-- A player's presence in one host's matches: from the first to the last ban
-- request of that host that named him, without a pause of minutes between.
CREATE TABLE presence (
  id {id},
  source TEXT NOT NULL,
  player_id BIGINT NOT NULL,
  first_seen BIGINT NOT NULL,
  last_seen BIGINT NOT NULL
);
CREATE INDEX presence_player ON presence (player_id, last_seen);
CREATE INDEX presence_source ON presence (source, player_id, last_seen);
CREATE INDEX presence_age ON presence (last_seen);

CREATE TABLE appeals (
  id {id},
  player_id BIGINT NOT NULL,
  text TEXT NOT NULL,
  network TEXT NOT NULL,
  made_at BIGINT NOT NULL,
  decision TEXT CHECK (decision IN ({appeal decisions})),
  closed_by TEXT,
  closed_at BIGINT,
  close_reason TEXT
);
CREATE UNIQUE INDEX appeals_open ON appeals (player_id) WHERE closed_at IS NULL;
CREATE INDEX appeals_player ON appeals (player_id);

CREATE TABLE mutes (
  id {id},
  kind TEXT NOT NULL CHECK (kind IN ({mute kinds})),
  subject TEXT NOT NULL,
  reason TEXT NOT NULL,
  made_by TEXT NOT NULL,
  made_at BIGINT NOT NULL,
  lifted_by TEXT,
  lifted_at BIGINT
);
CREATE UNIQUE INDEX mutes_in_force ON mutes (kind, subject) WHERE lifted_at IS NULL;

CREATE INDEX audit_actor ON audit (actor, id);
CREATE INDEX audit_action ON audit (action, id);
CREATE INDEX reports_reporter ON reports (reporter_id);
)",
       nullptr, nullptr},
      {3, "known sign-in networks, refusal tallies, appeals per network, host networks of presences",
       R"(
-- Networks an account signed in from with its password: failures from
-- other networks cannot lock it out there.
CREATE TABLE known_networks (
  account TEXT NOT NULL,
  network TEXT NOT NULL,
  last_sign_in BIGINT NOT NULL,
  PRIMARY KEY (account, network)
);
CREATE INDEX known_networks_age ON known_networks (last_sign_in);

-- Refusals counted per kind, subject, network and window, until the window
-- ends and they are folded into a few audit rows.
CREATE TABLE refusals (
  kind TEXT NOT NULL,
  subject TEXT NOT NULL,
  network TEXT NOT NULL,
  window_start BIGINT NOT NULL,
  refusals BIGINT NOT NULL,
  first_at BIGINT NOT NULL,
  last_at BIGINT NOT NULL,
  PRIMARY KEY (kind, subject, network, window_start)
);
CREATE INDEX refusals_window ON refusals (window_start);
DROP TABLE refused_reports;

-- One open appeal per player and network: a squatted appeal does not
-- silence the player's own.
DROP INDEX appeals_open;
CREATE UNIQUE INDEX appeals_open ON appeals (player_id, network) WHERE closed_at IS NULL;
CREATE INDEX appeals_open_age ON appeals (made_at) WHERE closed_at IS NULL;

-- The host's source network, so that a host on the reporter's own network
-- is no witness; '' for presences recorded before it was kept.
ALTER TABLE presence ADD COLUMN network TEXT NOT NULL DEFAULT '';
)",
       nullptr, nullptr},
      {4, "hosts' matches and players' stays instead of presences",
       R"(
-- Each host: its players lately, each with his stay so far (an encoded
-- list, store/sightings.h), as of its last request.
CREATE TABLE hosts (
  id {id},
  source TEXT NOT NULL,
  network TEXT NOT NULL,
  last_seen BIGINT NOT NULL,
  players {bytes} NOT NULL
);
CREATE UNIQUE INDEX hosts_source ON hosts (source, network);
CREATE INDEX hosts_age ON hosts (last_seen);

-- Each player's stays at hosts that began on one UTC day (days since
-- 1970-01-01): an encoded list.
CREATE TABLE stays (
  day BIGINT NOT NULL,
  player_id BIGINT NOT NULL,
  stays {bytes} NOT NULL,
  PRIMARY KEY (day, player_id)
);

-- Stays that ended before this are forgotten, though their day's row is
-- kept until the day is over.
CREATE TABLE stays_kept (
  since BIGINT NOT NULL
);
INSERT INTO stays_kept (since) VALUES (0);
)",
       nullptr, MovePresencesToStays},
      {5, "the bans in force by player",
       R"(
-- Every ban request asks for each id whether a ban is in force: the
-- answer is in this index alone (lifted_at among its columns tells both
-- databases so), whatever the number of bans on record.
CREATE INDEX bans_in_force ON bans (player_id, ends_at, lifted_at) WHERE lifted_at IS NULL;
)",
       nullptr, nullptr},
      {6, "webhook endpoints, events, deliveries",
       R"(
-- Where events go. event_types is a JSON array of the types it takes, []
-- for all; the secret signs the standard format ('' for discord, whose URL
-- is its secret).
CREATE TABLE webhook_endpoints (
  id {id},
  url TEXT NOT NULL,
  format TEXT NOT NULL CHECK (format IN ({webhook formats})),
  event_types TEXT NOT NULL,
  secret TEXT NOT NULL,
  created_by TEXT NOT NULL,
  created_at BIGINT NOT NULL,
  disabled_at BIGINT,
  disabled_why TEXT NOT NULL DEFAULT '',
  failing_since BIGINT
);

-- The outbox: each event written in the transaction of the change that
-- caused it, kept 30 days. message_id is the webhook-id receivers
-- de-duplicate by; data is the event's data as compact JSON.
CREATE TABLE events (
  id {id},
  message_id TEXT NOT NULL UNIQUE,
  type TEXT NOT NULL,
  made_at BIGINT NOT NULL,
  data TEXT NOT NULL
);
CREATE INDEX events_age ON events (made_at);

-- One event for one endpoint: due at next_attempt_at (NULL once delivered
-- or given up), claimed by one instance until claimed_until.
CREATE TABLE deliveries (
  id {id},
  event_id BIGINT NOT NULL REFERENCES events (id),
  endpoint_id BIGINT NOT NULL REFERENCES webhook_endpoints (id),
  attempts BIGINT NOT NULL DEFAULT 0,
  first_attempt_at BIGINT,
  next_attempt_at BIGINT,
  claimed_until BIGINT,
  last_status BIGINT,
  last_error TEXT NOT NULL DEFAULT '',
  last_at BIGINT,
  delivered_at BIGINT
);
CREATE UNIQUE INDEX deliveries_endpoint ON deliveries (endpoint_id, event_id);
CREATE INDEX deliveries_event ON deliveries (event_id);
CREATE INDEX deliveries_due ON deliveries (next_attempt_at) WHERE next_attempt_at IS NOT NULL;
)",
       nullptr, nullptr},
      {7, "API tokens",
       R"(
-- Only a hash of a token's secret is kept, as of a session's.
CREATE TABLE api_tokens (
  id {id},
  name TEXT NOT NULL UNIQUE,
  scope TEXT NOT NULL CHECK (scope IN ({token scopes})),
  token_hash TEXT NOT NULL UNIQUE,
  created_by TEXT NOT NULL,
  created_at BIGINT NOT NULL,
  last_used_at BIGINT
);

-- Bots follow the bans by their last change.
CREATE INDEX bans_changed ON bans ((COALESCE(lifted_at, made_at)), id);
)",
       nullptr, nullptr},
      {8, "the shared feed of the community's own bans",
       R"(
-- A ban its moderator kept out of the shared feed.
ALTER TABLE bans ADD COLUMN is_private BIGINT NOT NULL DEFAULT 0;

-- Each change (made, lifted) of the community's own shared bans, numbered
-- without gaps in the order of commit: a change takes the next number from
-- feed_head, whose row stays locked until its transaction ends, so a
-- reader never sees a number before the ones below it. Bans made before
-- this version are not in it: no moderator could keep one private then.
CREATE TABLE feed_head (
  seq BIGINT NOT NULL
);
INSERT INTO feed_head (seq) VALUES (0);
CREATE TABLE feed (
  seq BIGINT PRIMARY KEY,
  ban_id BIGINT NOT NULL REFERENCES bans (id),
  change TEXT NOT NULL CHECK (change IN ({feed changes})),
  changed_at BIGINT NOT NULL
);
CREATE INDEX feed_ban ON feed (ban_id);
)",
       "feed", nullptr},
  };
  return migrations;
}

// Version 4: each presence becomes its player's stays at its host, one for
// each day it spans; then the presences go. A few hundred players' at a
// time, so that a big community's month of them needs no more memory.
Result MovePresencesToStays(SqlDatabase& db) {
  static const SqlColumns kPresenceColumns({"player_id", "source", "network", "first_seen", "last_seen"});
  constexpr int64_t kPlayersAtATime = 200;
  std::map<std::pair<std::string, std::string>, HostMatch> hosts;
  Result result;
  // The players after `after` ($3: from the first).
  for (int64_t after = INT64_MIN, fromFirst = 1; result.ok(); fromFirst = 0) {
    std::vector<SqlRow> rows;
    result = db.Query("SELECT " + kPresenceColumns.List() +
                          " FROM presence WHERE ($3 = 1 OR player_id > $1) AND player_id <= (SELECT MAX(player_id) "
                          "FROM (SELECT DISTINCT player_id FROM presence WHERE $3 = 1 OR player_id > $1 "
                          "ORDER BY player_id LIMIT $2) AS next) ORDER BY player_id",
                      {after, kPlayersAtATime, fromFirst}, &rows);
    if (!result.ok() || rows.empty()) break;
    std::map<std::pair<int64_t, uint64_t>, std::vector<Stay>> days;
    for (std::size_t i = 0; result.ok() && i < rows.size(); ++i) {
      SqlFields fields(kPresenceColumns, rows[i]);
      const uint64_t playerId = fields.PlayerId("player_id");
      const std::pair<std::string, std::string> source{fields.Text("source"), fields.Text("network")};
      const UnixTime first = fields.Int("first_seen");
      const UnixTime last = fields.Int("last_seen");
      result = fields.result();
      HostMatch& host = hosts[source];
      if (result.ok() && host.host == 0) {
        std::vector<SqlRow> made;
        const SqlWrite row = SqlWrite()
                                 .Set("source", source.first)
                                 .Set("network", source.second)
                                 .Set("last_seen", last)
                                 .Set("players", SqlBytes{});
        result = db.Query(row.Insert("hosts") + " RETURNING id", row.values(), &made);
        if (result.ok()) result = SingleInt(made, &host.host);
      }
      host.lastSeen = std::max(host.lastSeen, last);
      for (int64_t day = DayOf(first); result.ok() && day <= DayOf(last); ++day) {
        const Stay piece{host.host, std::max(first, day * kDaySeconds), std::min(last, (day + 1) * kDaySeconds - 1)};
        ApplyStayWrite({playerId, piece.first, piece}, &days[{day, playerId}]);
      }
      after = static_cast<int64_t>(playerId);
    }
    for (auto day = days.begin(); result.ok() && day != days.end(); ++day) {
      const SqlWrite row = SqlWrite()
                               .Set("day", day->first.first)
                               .Set("player_id", static_cast<int64_t>(day->first.second))
                               .Set("stays", SqlBytes{EncodeStays(day->second, day->first.first)});
      result = db.Query(row.Insert("stays"), row.values(), nullptr);
    }
  }
  for (auto host = hosts.begin(); result.ok() && host != hosts.end(); ++host) {
    result = db.Query("UPDATE hosts SET last_seen = $2 WHERE id = $1", {host->second.host, host->second.lastSeen},
                      nullptr);
  }
  return result.ok() ? db.Script("DROP TABLE presence") : result;
}

void ReplaceAll(std::string* text, const std::string& name, const std::string& value) {
  for (std::size_t at = 0; (at = text->find(name, at)) != std::string::npos; at += value.size()) {
    text->replace(at, name.size(), value);
  }
}

std::string TextFor(const Migration& migration, const SqlDatabase& db) {
  std::string text = migration.sql;
  ReplaceAll(&text, "{id}", db.TypeName(SqlType::kGeneratedKey));
  ReplaceAll(&text, "{bytes}", db.TypeName(SqlType::kBytes));
  ReplaceAll(&text, "{roles}", SqlWordList<ModeratorRole>());
  ReplaceAll(&text, "{mute kinds}", SqlWordList<MuteKind>());
  ReplaceAll(&text, "{case decisions}", SqlWordList<CaseDecision>());
  ReplaceAll(&text, "{appeal decisions}", SqlWordList<AppealDecision>());
  ReplaceAll(&text, "{webhook formats}", SqlWordList<WebhookFormat>());
  ReplaceAll(&text, "{token scopes}", SqlWordList<TokenScope>());
  ReplaceAll(&text, "{feed changes}", SqlWordList<FeedChangeKind>());
  if (migration.appendOnly != nullptr) text += db.AppendOnly(migration.appendOnly);
  return text;
}

Result Migrate(SqlDatabase& db, int64_t upTo) {
  SqlTransaction transaction(db);
  Result result = transaction.Begin(true);
  if (result.ok()) {
    result = db.Script("CREATE TABLE IF NOT EXISTS schema_versions (version BIGINT PRIMARY KEY, name TEXT NOT NULL)");
  }
  std::vector<SqlRow> rows;
  if (result.ok()) result = db.Query("SELECT COALESCE(MAX(version), 0) FROM schema_versions", {}, &rows);
  int64_t applied = 0;
  if (result.ok()) result = SingleInt(rows, &applied);
  if (!result.ok()) return result;
  if (applied > NewestSchemaVersion()) {
    return Result::Unavailable("the database's schema is version " + std::to_string(applied) +
                                   ", newer than this program knows (" + std::to_string(NewestSchemaVersion()) + ")",
                               applied);
  }
  for (const Migration& migration : Migrations()) {
    if (migration.version <= applied || migration.version > upTo) continue;
    result = db.Script(TextFor(migration, db));
    if (result.ok() && migration.then != nullptr) result = migration.then(db);
    if (result.ok()) {
      result = db.Query("INSERT INTO schema_versions (version, name) VALUES ($1, $2)",
                        {migration.version, std::string(migration.name)}, nullptr);
    }
    if (!result.ok()) {
      return Result::Failure(result.kind(), result.code(),
                             "schema version " + std::to_string(migration.version) + ": " + result.text());
    }
  }
  return transaction.Commit();
}

}  // namespace

int64_t NewestSchemaVersion() { return Migrations().back().version; }

Result MigrateSchema(SqlDatabase& db, int64_t upTo) {
  return db.WithSchemaLock([&db, upTo] { return Migrate(db, upTo); });
}

}  // namespace palisard
