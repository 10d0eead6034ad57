#include "service/cli/transfer_commands.h"

#include <ostream>

#include "service/cli/ban_file.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

Result RunExport(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  if (!result.ok()) return result;
  context.out << BanExportHeader(context.now) << "\n";
  result = store->ForEachBan([&](const Ban& ban) { context.out << BanExportLine(ban) << "\n"; });
  if (!result.ok()) return result;
  if (!context.out.flush()) return Result::Failed("the export could not be written");
  return Result::Ok();
}

Result RunImport(const CommandArguments& args, CliContext& context) {
  BanFile file;
  Result result = ReadBanFile(args.operands()[0], &file);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  const bool dryRun = args.Flag("dry-run");
  std::size_t added = 0;
  if (result.ok()) result = store->ImportBans(file.bans, dryRun, CliActor(context), context.now, &added);
  if (!result.ok()) return result;
  context.out << (dryRun ? "would import " : "imported ") << added << (added == 1 ? " ban" : " bans") << ", "
              << file.bans.size() - added << (file.plainList ? " listed players banned already" : " there already")
              << (dryRun ? " (dry run: nothing written)\n" : "\n");
  return Result::Ok();
}

}  // namespace

std::vector<Command> TransferCommands() {
  std::vector<OptionSyntax> importOptions =
      StoreOptions({{"dry-run", "", "tell what would be imported, write nothing"}});
  return {
      {{"export",
        {},
        "write every ban to standard output as JSON lines",
        "The first line names the format (palisard-service-bans) and its version; then one ban a line, oldest\n"
        "first, ids as strings, times in UTC (ISO 8601). import reads it into another database.",
        StoreOptions()},
       RunExport},
      {{"import",
        {"FILE"},
        "add the bans of an export, or ban the ids of a plain list",
        "An export's bans are added unless the database holds them already, so importing a file twice\n"
        "changes nothing. A plain list holds one id a line ('#' begins a comment); each listed player\n"
        "without a ban in force is banned permanently, the reason naming the file. FILE - reads\n"
        "standard input. A bad line imports nothing.",
        std::move(importOptions)},
       RunImport},
  };
}

}  // namespace palisard
