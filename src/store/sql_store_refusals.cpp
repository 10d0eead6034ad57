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

// One kind's refusals of one subject from one network in one window.
struct Tally {
  AuditAction kind = AuditAction::kSignInFailed;
  UnixTime windowStart = 0;
  std::string subject;
  std::string network;
  int64_t refusals = 0;
  UnixTime firstAt = 0;
  UnixTime lastAt = 0;
};

// The refusals table: its columns, a row as a Tally, and the first refusal
// of a tally as a row.
const SqlColumns kTallyColumns({"kind", "window_start", "subject", "network", "refusals", "first_at", "last_at"});

Result ReadTally(const SqlRow& row, Tally* tally) {
  SqlFields fields(kTallyColumns, row);
  *tally = {fields.Value<AuditAction>("kind"), fields.Int("window_start"), fields.Text("subject"),
            fields.Text("network"),            fields.Int("refusals"),     fields.Int("first_at"),
            fields.Int("last_at")};
  return fields.result();
}

SqlWrite FirstRefusalRow(AuditAction kind, const std::string& subject, const std::string& network, UnixTime now) {
  SqlWrite row;
  row.Set("kind", std::string(WordOf(kind))).Set("window_start", now - now % kRefusalWindow);
  row.Set("subject", subject).Set("network", network).Set("refusals", int64_t{1});
  return row.Set("first_at", now).Set("last_at", now);
}

AuditEntry TallyEntry(AuditAction action, const Tally& tally) {
  return {0,
          tally.lastAt,
          tally.subject,
          tally.network,
          std::string(WordOf(action)),
          0,
          "",
          JsonText({{"refusals", tally.refusals}, {"first", tally.firstAt}, {"last", tally.lastAt}})};
}

// One window of one kind: its largest tallies as rows of their own, and
// the rest as one row that says how many subjects and networks it holds.
std::vector<AuditEntry> WindowEntries(AuditAction action, std::vector<Tally> tallies) {
  std::sort(tallies.begin(), tallies.end(), [](const Tally& a, const Tally& b) {
    return std::tie(b.refusals, a.subject, a.network) < std::tie(a.refusals, b.subject, b.network);
  });
  const std::size_t own = tallies.size() <= kRefusalRowsPerWindow ? tallies.size() : kRefusalRowsPerWindow - 1;
  std::vector<AuditEntry> entries;
  for (std::size_t i = 0; i < own; ++i) entries.push_back(TallyEntry(action, tallies[i]));
  if (own == tallies.size()) return entries;
  Tally rest{action, tallies[own].windowStart, "", "", 0, tallies[own].firstAt, tallies[own].lastAt};
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
  const SqlWrite row = FirstRefusalRow(kind, subject, network, now);
  return db_->Query(
      row.Insert("refusals") +
          " ON CONFLICT (kind, subject, network, window_start) DO UPDATE SET refusals = refusals.refusals + 1, "
          "first_at = CASE WHEN refusals.first_at < excluded.first_at THEN refusals.first_at ELSE excluded.first_at END, "
          "last_at = CASE WHEN refusals.last_at > excluded.last_at THEN refusals.last_at ELSE excluded.last_at END",
      row.values(), nullptr);
}

// Call within a write transaction. Taking the rows out as it reads them
// makes two instances that fold at once write each window once.
Result SqlStore::FoldRefusals(UnixTime now) {
  std::vector<SqlRow> rows;
  Result result = db_->Query("DELETE FROM refusals WHERE window_start <= $1 RETURNING " + kTallyColumns.List(),
                             {now - kRefusalWindow}, &rows);
  std::vector<Tally> tallies;
  if (result.ok()) result = ReadRecords(rows, ReadTally, &tallies);
  if (!result.ok()) return result;
  std::map<std::pair<AuditAction, UnixTime>, std::vector<Tally>> windows;
  for (Tally& tally : tallies) windows[{tally.kind, tally.windowStart}].push_back(std::move(tally));
  for (auto& [window, tallies] : windows) {
    for (const AuditEntry& entry : WindowEntries(window.first, std::move(tallies))) {
      result = AppendAudit(entry);
      if (!result.ok()) return result;
    }
  }
  return Result::Ok();
}

}  // namespace palisard
