#include "service/cli/ban_commands.h"

#include <ostream>

#include "service/cli/record_lines.h"
#include "service/values/record_values.h"
#include "store/text_limits.h"

namespace palisard {
namespace {

const OptionSyntax kReason{"reason", "TEXT", "why, for the record", true};

// Checked before the store opens: a reason the store would refuse is bad
// input (exit status 2) wherever the database is.
Result CheckedReason(const CommandArguments& args, std::string* reason) {
  *reason = *args.Value("reason");
  return CheckText(TextField::kReason, *reason);
}

Result RunBan(const CommandArguments& args, CliContext& context) {
  NewBan ban;
  Result valid = ParseCommunityId(args.operands()[0], &ban.playerId);
  if (valid.ok()) valid = CheckedReason(args, &ban.reason);
  std::optional<int64_t> length;
  if (valid.ok() && args.Value("for")) valid = ParseBanDuration(*args.Value("for"), &length);
  if (!valid.ok()) return valid;
  if (length) ban.until = context.now + *length;
  ban.isPrivate = args.Flag("private");
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  if (!result.ok()) return result;
  Ban made;
  result = store->AddBan(ban, CliActor(context), context.now, &made);
  if (result.kind() == Result::Kind::kConflict) {
    return Result::Failure(result.kind(), 0, std::to_string(ban.playerId) + " is banned already (bans lists it)");
  }
  if (!result.ok()) return result;
  context.out << "banned " << BanLine(made, context.now) << "\n";
  return Result::Ok();
}

Result RunLift(const CommandArguments& args, CliContext& context) {
  uint64_t playerId = 0;
  std::string reason;
  Result result = ParseCommunityId(args.operands()[0], &playerId);
  if (result.ok()) result = CheckedReason(args, &reason);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  if (!result.ok()) return result;
  Ban lifted;
  result = store->LiftBan(playerId, reason, CliActor(context), context.now, &lifted);
  if (result.kind() == Result::Kind::kNotFound) {
    return Result::Failure(result.kind(), 0, "no ban of " + std::to_string(playerId) + " is in force");
  }
  if (!result.ok()) return result;
  context.out << BanLine(lifted, context.now) << "\n";
  return Result::Ok();
}

Result RunBans(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  std::vector<Ban> bans;
  if (result.ok()) result = store->ListBans(args.Flag("all"), context.now, &bans);
  if (!result.ok()) return result;
  for (const Ban& ban : bans) context.out << BanLine(ban, context.now) << "\n";
  return Result::Ok();
}

Result RunShow(const CommandArguments& args, CliContext& context) {
  uint64_t playerId = 0;
  Result result = ParseCommunityId(args.operands()[0], &playerId);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  PlayerFile file;
  if (result.ok()) result = store->Player(playerId, &file);
  if (!result.ok()) return result;
  for (const Ban& ban : file.bans) context.out << "ban " << BanLine(ban, context.now) << "\n";
  for (const Case& c : file.cases) context.out << CaseLine(c) << "\n";
  for (const Report& report : file.reports) context.out << ReportLine(report) << "\n";
  if (file.bans.empty() && file.cases.empty() && file.reports.empty()) {
    context.out << "nothing on record for " << playerId << "\n";
  }
  return Result::Ok();
}

Result RunCases(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  std::vector<Case> cases;
  if (result.ok()) result = store->OpenCases(&cases);
  if (!result.ok()) return result;
  for (const Case& c : cases) context.out << CaseLine(c) << "\n";
  return Result::Ok();
}

Result RunDismiss(const CommandArguments& args, CliContext& context) {
  int64_t caseId = 0;
  std::string reason;
  Result result = ParseCaseId(args.operands()[0], &caseId);
  if (result.ok()) result = CheckedReason(args, &reason);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->DismissCase(caseId, reason, CliActor(context), context.now);
  if (result.kind() == Result::Kind::kNotFound) {
    return Result::Failure(result.kind(), 0, "no open case " + std::to_string(caseId));
  }
  if (!result.ok()) return result;
  context.out << "dismissed case " << caseId << "\n";
  return Result::Ok();
}

}  // namespace

std::vector<Command> AdminCommands() {
  return {
      {{"ban",
        {"ID"},
        "ban a player",
        "Every host that asks the service blocks the player from its next ban request on. A player has one\n"
        "ban in force at most. The shared feed publishes it unless it is --private.",
        StoreOptions({kReason,
                      {"for", "DURATION", "how long: 30m, 12h, 7d, 2w or permanent (default permanent)"},
                      {"private", "", "keep it out of the community's shared ban feed"}})},
       RunBan},
      {{"lift", {"ID"}, "lift the ban in force of a player", "", StoreOptions({kReason})}, RunLift},
      {{"bans", {}, "list the bans in force, newest first", "", StoreOptions({{"all", "", "past bans too"}})}, RunBans},
      {{"show", {"ID"}, "show the bans, cases and reports of a player", "", StoreOptions()}, RunShow},
      {{"cases", {}, "list the open cases, most distinct source networks first", "", StoreOptions()}, RunCases},
      {{"dismiss", {"CASE"}, "close an open case without a ban", "", StoreOptions({kReason})}, RunDismiss},
  };
}

}  // namespace palisard
