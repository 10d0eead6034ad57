#include "service/cli/moderator_commands.h"

#include <ostream>

#include "service/accounts/credentials.h"
#include "service/values/record_values.h"

namespace palisard {
namespace {

Result RunAdd(const CommandArguments& args, CliContext& context) {
  const std::string& name = args.operands()[0];
  Result result = CheckModeratorName(name);
  if (!result.ok()) return result;
  // The database first: no password is asked for an account that cannot be
  // stored.
  std::unique_ptr<Store> store;
  result = OpenCommandStore(args, &store);
  if (!result.ok()) return result;
  if (!context.readPassword) return Result::Failed("no way to read a password here");
  std::string password;
  result = context.readPassword(&password);
  if (result.ok()) result = CheckPassword(password);
  std::string hash;
  const HashCost cost = args.Flag("insecure-test-hash") ? HashCost::kTestOnly : HashCost::kInteractive;
  if (result.ok()) result = HashPassword(password, cost, &hash);
  const ModeratorRole role = args.Flag("admin") ? ModeratorRole::kAdmin : ModeratorRole::kModerator;
  if (result.ok()) result = store->AddModerator(name, role, hash, CliActor(context), context.now);
  if (!result.ok()) return result;
  context.out << "added " << WordOf(role) << " " << name << "\n";
  return Result::Ok();
}

Result RunList(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  std::vector<Moderator> moderators;
  if (result.ok()) result = store->Moderators(&moderators);
  if (!result.ok()) return result;
  for (const Moderator& moderator : moderators) {
    context.out << moderator.name << "  " << WordOf(moderator.role) << "  added "
                << FormatUtcTime(moderator.createdAt) << " by " << moderator.createdBy << "\n";
  }
  return Result::Ok();
}

Result RunRemove(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->RemoveModerator(args.operands()[0], CliActor(context), context.now);
  if (!result.ok()) return result;
  context.out << "removed " << args.operands()[0] << "; the account's sessions have ended\n";
  return Result::Ok();
}

}  // namespace

std::vector<Command> ModeratorCommands() {
  return {
      {{"moderator add",
        {"NAME"},
        "add an account for the moderation pages",
        "The password is typed twice on a terminal, or read from the first line of standard input.\n"
        "Admins also manage the accounts on the pages.",
        StoreOptions({{"admin", "", "the account may manage accounts"},
                      {"insecure-test-hash", "", "for tests only: a password hash that is cheap to guess"}})},
       RunAdd},
      {{"moderator list", {}, "list the accounts of the moderation pages", "", StoreOptions()}, RunList},
      {{"moderator remove", {"NAME"}, "remove an account and end its sessions", "", StoreOptions()}, RunRemove},
  };
}

}  // namespace palisard
