#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/sql_database.h"
#include "store/store.h"

namespace palisard {

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
  Result RefusedReports(UnixTime since, std::vector<std::pair<ReportVerdict, uint64_t>>* counts) override;
  Result OpenCases(std::vector<Case>* cases) override;
  Result DismissCase(int64_t caseId, const std::string& reason, const Actor& actor, UnixTime now) override;
  Result Player(uint64_t playerId, PlayerFile* file) override;

  Result Audit(std::size_t limit, std::vector<AuditEntry>* entries) override;

  Result ForEachBan(const std::function<void(const Ban&)>& visit) override;
  Result ImportBans(const std::vector<Ban>& bans, bool dryRun, const Actor& actor, UnixTime now,
                    std::size_t* added) override;

  Result GetSetting(const std::string& key, std::optional<std::string>* value) override;
  Result SetSetting(const std::string& key, const std::string& value, const Actor& actor, UnixTime now) override;

 private:
  // Steps of the transactions above; each expects one to be open.
  // `where` and `order` are the store's own constant SQL, never input.
  Result QueryBans(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                   std::vector<Ban>* bans);
  Result BansInForce(uint64_t playerId, UnixTime now, std::vector<Ban>* bans);
  Result InsertBan(Ban* ban);
  Result CloseOpenCase(uint64_t playerId, const std::string& decision, const Actor& actor, const std::string& reason,
                       UnixTime now, int64_t* caseId);
  Result AppendAudit(const AuditEntry& entry);
  Result ImportOne(Ban ban, const Actor& actor, UnixTime now, std::vector<std::string>* refs);
  Result TakeNetworkToken(const std::string& network, const ReportLimits& limits, UnixTime now, bool* taken);
  Result CheckPlayerLimits(const NewReport& report, const ReportLimits& limits, UnixTime now, ReportVerdict* verdict);
  Result CountRefusal(ReportVerdict verdict, UnixTime now);
  Result OpenCaseOf(uint64_t playerId, UnixTime now, int64_t* caseId);
  Result QueryCases(const std::string& where, const std::string& order, const std::vector<SqlValue>& params,
                    std::vector<Case>* cases);

  std::unique_ptr<SqlDatabase> db_;
};

}  // namespace palisard
