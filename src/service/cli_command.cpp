#include "service/cli_command.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "service/serve_options.h"
#include "store/database_url.h"

namespace palisard {

std::vector<OptionSyntax> StoreOptions(std::vector<OptionSyntax> own) {
  own.push_back({"database", "URL",
                 "the database: an SQLite file or a postgresql:// URL (default " + ServeSettings().database + ")"});
  own.push_back({"config", "FILE", "take the database from serve's settings file"});
  return own;
}

Result OpenCommandStore(const CommandArguments& args, std::unique_ptr<Store>* store) {
  ServeSettings settings;
  Result resolved = ResolveServeSettings(args, &settings);
  if (!resolved.ok()) return resolved;
  if (std::optional<std::string> path = SqlitePath(settings.database)) {
    std::error_code error;
    if (!std::filesystem::exists(*path, error)) {
      return Result::Failure(Result::Kind::kNotFound, 0,
                             "no database at " + std::filesystem::absolute(*path, error).string() +
                                 " (serve creates it; --database or --config names another)");
    }
  }
  Result opened = OpenStore(settings.database, store);
  if (opened.ok()) return opened;
  return Result::Failure(opened.kind(), opened.code(),
                         "cannot open the database " + ShownDatabase(settings.database) + ": " + opened.text());
}

Actor CliActor(const CliContext& context) { return Actor{"cli:" + context.user, "cli"}; }

}  // namespace palisard
