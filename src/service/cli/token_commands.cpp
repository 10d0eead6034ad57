#include "service/cli/token_commands.h"

#include <ostream>

#include "service/accounts/credentials.h"
#include "common/utc_time.h"

namespace palisard {
namespace {

Result RunAdd(const CommandArguments& args, CliContext& context) {
  const std::string& name = args.operands()[0];
  Result result = CheckTokenName(name);
  const std::optional<TokenScope> scope = ValueOfWord<TokenScope>(*args.Value("scope"));
  if (result.ok() && !scope) result = Result::Invalid("--scope: '" + *args.Value("scope") + "' is not read or moderate");
  if (!result.ok()) return result;
  std::string token;
  std::unique_ptr<Store> store;
  result = NewSessionToken(&token);
  if (result.ok()) result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->AddToken(name, *scope, SessionTokenHash(token), CliActor(context), context.now, nullptr);
  if (!result.ok()) return result;
  // The only time it is shown: the store keeps a hash.
  context.out << "added " << WordOf(*scope) << " token " << name << ": " << token << "\n";
  return Result::Ok();
}

Result RunList(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  std::vector<ApiToken> tokens;
  if (result.ok()) result = store->Tokens(&tokens);
  if (!result.ok()) return result;
  for (const ApiToken& token : tokens) {
    context.out << token.name << "  " << WordOf(token.scope) << "  added " << FormatUtcTime(token.createdAt) << " by "
                << token.createdBy << "  last used "
                << (token.lastUsedAt ? FormatUtcTime(*token.lastUsedAt) : std::string("never")) << "\n";
  }
  return Result::Ok();
}

Result RunRemove(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->RemoveToken(args.operands()[0], CliActor(context), context.now);
  if (!result.ok()) return result;
  context.out << "removed token " << args.operands()[0] << "; it is refused from now on\n";
  return Result::Ok();
}

}  // namespace

std::vector<Command> TokenCommands() {
  return {
      {{"token add",
        {"NAME"},
        "add an API token for a bot, printed once",
        "A read token reads players, bans, cases and the audit through /api/v1 on the moderation listener;\n"
        "a moderate token also bans, lifts and dismisses. Its changes are audited as token:NAME.",
        StoreOptions({{"scope", "SCOPE", "read or moderate", true}})},
       RunAdd},
      {{"token list", {}, "list the API tokens, never their secrets", "", StoreOptions()}, RunList},
      {{"token remove", {"NAME"}, "remove an API token: it is refused from then on", "", StoreOptions()}, RunRemove},
  };
}

}  // namespace palisard
