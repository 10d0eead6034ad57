// Hosts' matches and players' stays (see store/sightings.h): what hosts'
// ban requests named, and the evidence the moderation queue weighs.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "store/sql_store.h"

namespace palisard {
namespace {

// The hosts table: its columns, and a row as a host's match.
const SqlColumns kHostColumns({"id", "network", "last_seen", "players"});

Result ReadHost(const SqlRow& row, HostMatch* match, std::string* network) {
  SqlFields fields(kHostColumns, row);
  match->host = fields.Int("id");
  match->lastSeen = fields.Int("last_seen");
  *network = fields.Text("network");
  const std::string players = fields.Text("players");
  return fields.result().ok() ? DecodeMatch(players, match) : fields.result();
}

// The stays table: its columns, a row as a day's stays of a player, and
// those as a row.
const SqlColumns kStaysColumns({"day", "player_id", "stays"});

struct PlayerDay {
  int64_t day = 0;
  uint64_t playerId = 0;
  std::vector<Stay> stays;
};

Result ReadPlayerDay(const SqlRow& row, PlayerDay* day) {
  SqlFields fields(kStaysColumns, row);
  day->day = fields.Int("day");
  day->playerId = fields.PlayerId("player_id");
  const std::string stays = fields.Text("stays");
  return fields.result().ok() ? DecodeStays(stays, day->day, &day->stays) : fields.result();
}

SqlWrite PlayerDayRow(const PlayerDay& day) {
  SqlWrite row;
  row.Set("day", day.day).Set("player_id", SqlId(day.playerId));
  return row.Set("stays", SqlBytes{EncodeStays(day.stays, day.day)});
}

std::string JsonIds(const auto& ids) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto id : ids) list.push_back(static_cast<int64_t>(id));
  return list.dump();
}

}  // namespace

Result SqlStore::RecordSightings(const std::vector<Sighting>& sightings) {
  // Each host's requests in the order they were made; the hosts in one
  // order for their locks, and then the players in one order.
  std::map<std::pair<std::string, std::string>, std::vector<const Sighting*>> hosts;
  for (const Sighting& sighting : sightings) hosts[{sighting.source, sighting.network}].push_back(&sighting);
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  for (auto& [host, requests] : hosts) {
    std::stable_sort(requests.begin(), requests.end(),
                     [](const Sighting* a, const Sighting* b) { return a->at < b->at; });
    if (result.ok()) result = db_->LockUntilEnd(SqlLockSpace::kHost, SqlLockKey(host.first + " " + host.second));
  }
  std::vector<StayWrite> writes;
  for (auto host = hosts.begin(); result.ok() && host != hosts.end(); ++host) {
    result = RecordHostRequests(host->second, &writes);
  }
  if (result.ok()) result = WriteStays(writes);
  if (result.ok()) result = transaction.Commit();
  return result;
}

Result SqlStore::RecordHostRequests(const std::vector<const Sighting*>& requests, std::vector<StayWrite>* writes) {
  const Sighting& first = *requests.front();
  std::vector<SqlRow> rows;
  Result result = db_->Query("SELECT " + kHostColumns.List() + " FROM hosts WHERE source = $1 AND network = $2",
                             {first.source, first.network}, &rows);
  if (result.ok() && rows.empty()) {
    SqlWrite row;
    row.Set("source", first.source).Set("network", first.network).Set("last_seen", int64_t{0});
    row.Set("players", SqlBytes{});
    result = db_->Query(row.Insert("hosts") + " RETURNING " + kHostColumns.List(), row.values(), &rows);
  }
  if (result.ok() && rows.empty()) result = Result::Failed("the database made no row for the host");
  HostMatch match;
  std::string network;
  if (result.ok()) result = ReadHost(rows[0], &match, &network);
  if (!result.ok()) return result;
  for (const Sighting* request : requests) AddRequest(&match, request->at, request->ids, writes);
  return db_->Query("UPDATE hosts SET last_seen = $2, players = $3 WHERE id = $1",
                    {match.host, match.lastSeen, SqlBytes{EncodeMatch(match)}}, nullptr);
}

Result SqlStore::WriteStays(const std::vector<StayWrite>& writes) {
  std::map<std::pair<int64_t, uint64_t>, std::vector<const StayWrite*>> days;
  std::set<uint64_t> players;
  for (const StayWrite& write : writes) {
    days[{DayOf(write.stay.first), write.playerId}].push_back(&write);
    players.insert(write.playerId);
  }
  Result result;
  for (auto player = players.begin(); result.ok() && player != players.end(); ++player) {
    result = db_->LockUntilEnd(SqlLockSpace::kPlayer, *player);
  }
  for (auto day = days.begin(); result.ok() && day != days.end(); ++day) {
    const auto& [key, dayWrites] = *day;
    std::vector<SqlRow> rows;
    result = db_->Query("SELECT " + kStaysColumns.List() + " FROM stays WHERE day = $1 AND player_id = $2",
                        {key.first, SqlId(key.second)}, &rows);
    PlayerDay stays{key.first, key.second, {}};
    if (result.ok() && !rows.empty()) result = ReadPlayerDay(rows[0], &stays);
    if (!result.ok()) return result;
    for (const StayWrite* write : dayWrites) ApplyStayWrite(*write, &stays.stays);
    const SqlWrite row = PlayerDayRow(stays);
    result = db_->Query(row.Insert("stays") + " ON CONFLICT (day, player_id) DO UPDATE SET stays = excluded.stays",
                        row.values(), nullptr);
  }
  return result;
}

Result SqlStore::CaseReports(int64_t caseId, UnixTime before, UnixTime after, std::vector<WitnessedReport>* reports) {
  reports->clear();
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(false);
  std::vector<Report> inCase;
  if (result.ok()) result = QueryReports("case_id = $1", "reported_at, id", {caseId}, &inCase);
  if (!result.ok() || inCase.empty()) return result.ok() ? transaction.Commit() : result;

  // The stays of the case's players on the days around its reports, the
  // hosts they were at, and how far back stays are remembered.
  std::set<uint64_t> players;
  int64_t firstDay = DayOf(inCase.front().at - before);
  int64_t lastDay = DayOf(inCase.back().at + after);
  for (const Report& report : inCase) {
    players.insert(report.reporterId);
    players.insert(report.reportedId);
  }
  std::vector<SqlRow> rows;
  result = db_->Query("SELECT " + kStaysColumns.List() + " FROM stays WHERE day BETWEEN $2 AND $3 AND player_id IN (" +
                          db_->IntegerRows(1) + ")",
                      {JsonIds(players), firstDay, lastDay}, &rows);
  std::vector<PlayerDay> days;
  if (result.ok()) result = ReadRecords(rows, ReadPlayerDay, &days);
  std::set<int64_t> hostIds;
  for (const PlayerDay& day : days) {
    for (const Stay& stay : day.stays) hostIds.insert(stay.host);
  }
  rows.clear();
  if (result.ok()) {
    result = db_->Query("SELECT " + kHostColumns.List() + " FROM hosts WHERE id IN (" + db_->IntegerRows(1) + ")",
                        {JsonIds(hostIds)}, &rows);
  }
  std::vector<HostMatch> matches(rows.size());
  std::map<int64_t, std::string> networks;
  for (std::size_t i = 0; result.ok() && i < rows.size(); ++i) {
    std::string network;
    result = ReadHost(rows[i], &matches[i], &network);
    networks[matches[i].host] = network;
  }
  std::vector<SqlRow> kept;
  int64_t keptSince = 0;
  if (result.ok()) result = db_->Query("SELECT since FROM stays_kept", {}, &kept);
  if (result.ok()) result = SingleInt(kept, &keptSince);
  if (result.ok()) result = transaction.Commit();
  if (!result.ok()) return result;

  // Two stays at one host that overlap, within the window around the
  // report, counted by the host's network: one on the reporter's own
  // network (he could have sent the requests himself) counts for nothing.
  const auto staysOf = [&](uint64_t playerId, UnixTime from, UnixTime to) {
    std::vector<Stay> stays;
    for (const PlayerDay& day : days) {
      if (day.playerId == playerId && day.day >= DayOf(from) && day.day <= DayOf(to)) {
        stays.insert(stays.end(), day.stays.begin(), day.stays.end());
      }
    }
    return StaysWithin(playerId, stays, matches, std::max(from, keptSince), to);
  };
  for (const Report& report : inCase) {
    const UnixTime from = report.at - before;
    const UnixTime to = report.at + after;
    std::set<std::string> witnesses;
    for (const Stay& reporter : staysOf(report.reporterId, from, to)) {
      for (const Stay& reported : staysOf(report.reportedId, from, to)) {
        const std::string& network = networks[reporter.host];
        if (Together(reporter, reported) && network != report.network && !network.empty()) witnesses.insert(network);
      }
    }
    reports->push_back({report, static_cast<uint32_t>(witnesses.size())});
  }
  return Result::Ok();
}

Result SqlStore::ForgetStays(UnixTime before) {
  Result result = db_->Query("DELETE FROM stays WHERE day < $1", {DayOf(before)}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM hosts WHERE last_seen < $1", {before}, nullptr);
  // The stays of the day `before` falls on that ended before it stay in
  // their rows, forgotten all the same.
  if (result.ok()) {
    result = db_->Query("UPDATE stays_kept SET since = CASE WHEN since < $1 THEN $1 ELSE since END", {before}, nullptr);
  }
  return result;
}

}  // namespace palisard
