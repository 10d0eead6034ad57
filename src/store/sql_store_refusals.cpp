// Refusals: counted per window, then folded into a bounded number of audit
// rows, so that a stranger who is refused cannot grow the audit with it.
#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "store/ban_json.h"
#include "store/sql_store.h"

namespace palisard {
namespace {

struct Tally {
  std::string subject;
  std::string network;
  int64_t refusals = 0;
  UnixTime firstAt = 0;
  UnixTime lastAt = 0;
};

AuditEntry TallyEntry(const std::string& action, const Tally& tally) {
  return {0,      tally.lastAt,
          tally.subject, tally.network,
          action, 0,
          "",     JsonText({{"refusals", tally.refusals}, {"first", tally.firstAt}, {"last", tally.lastAt}})};
}

// One window of one kind: its largest tallies as rows of their own, and
// the rest as one row that says how many subjects and networks it holds.
std::vector<AuditEntry> WindowEntries(const std::string& action, std::vector<Tally> tallies) {
  std::sort(tallies.begin(), tallies.end(), [](const Tally& a, const Tally& b) {
    return std::tie(b.refusals, a.subject, a.network) < std::tie(a.refusals, b.subject, b.network);
  });
  const std::size_t own = tallies.size() <= kRefusalRowsPerWindow ? tallies.size() : kRefusalRowsPerWindow - 1;
  std::vector<AuditEntry> entries;
  for (std::size_t i = 0; i < own; ++i) entries.push_back(TallyEntry(action, tallies[i]));
  if (own == tallies.size()) return entries;
  Tally rest{"", "", 0, tallies[own].firstAt, tallies[own].lastAt};
  std::set<std::string> subjects;
  std::set<std::string> networks;
  for (std::size_t i = own; i < tallies.size(); ++i) {
    rest.refusals += tallies[i].refusals;
    rest.firstAt = std::min(rest.firstAt, tallies[i].firstAt);
    rest.lastAt = std::max(rest.lastAt, tallies[i].lastAt);
    subjects.insert(tallies[i].subject);
    networks.insert(tallies[i].network);
  }
  rest.subject = std::to_string(subjects.size()) + " others";
  rest.network = std::to_string(networks.size()) + " networks";
  entries.push_back(TallyEntry(action, rest));
  return entries;
}

}  // namespace

Result SqlStore::CountRefusal(AuditAction kind, const std::string& subject, const std::string& network, UnixTime now) {
  return db_->Query(
      "INSERT INTO refusals (kind, subject, network, window_start, refusals, first_at, last_at) "
      "VALUES ($1, $2, $3, $4, 1, $5, $5) ON CONFLICT (kind, subject, network, window_start) DO UPDATE SET "
      "refusals = refusals.refusals + 1, "
      "first_at = CASE WHEN refusals.first_at < excluded.first_at THEN refusals.first_at ELSE excluded.first_at END, "
      "last_at = CASE WHEN refusals.last_at > excluded.last_at THEN refusals.last_at ELSE excluded.last_at END",
      {std::string(WordOf(kind)), subject, network, now - now % kRefusalWindow, now}, nullptr);
}

// Call within a write transaction. Taking the rows out as it reads them
// makes two instances that fold at once write each window once.
Result SqlStore::FoldRefusals(UnixTime now) {
  std::vector<SqlRow> rows;
  Result result = db_->Query(
      "DELETE FROM refusals WHERE window_start <= $1 "
      "RETURNING kind, window_start, subject, network, refusals, first_at, last_at",
      {now - kRefusalWindow}, &rows);
  if (!result.ok()) return result;
  std::map<std::pair<std::string, UnixTime>, std::vector<Tally>> windows;
  for (const SqlRow& row : rows) {
    windows[{SqlText(row[0]), SqlInt(row[1])}].push_back(
        {SqlText(row[2]), SqlText(row[3]), SqlInt(row[4]), SqlInt(row[5]), SqlInt(row[6])});
  }
  for (auto& [window, tallies] : windows) {
    for (const AuditEntry& entry : WindowEntries(window.first, std::move(tallies))) {
      result = AppendAudit(entry);
      if (!result.ok()) return result;
    }
  }
  return Result::Ok();
}

}  // namespace palisard
