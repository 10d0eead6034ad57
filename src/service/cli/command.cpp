#include "service/cli/command.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "service/settings/settings_table.h"
#include "store/database_url.h"

namespace palisard {

std::vector<OptionSyntax> StoreOptions(std::vector<OptionSyntax> own) {
  own.push_back({"database", "URL",
                 "the database: an SQLite file or a postgresql:// URL (default " + ServeSettings().database + ")"});
  own.push_back({"config", "FILE", "take the database from serve's settings file"});
  return own;
}

std::vector<OptionSyntax> ServeSettingOptions() {
  std::vector<OptionSyntax> options;
  for (const SettingDescription& setting : ServeSettingDescriptions()) {
    options.push_back({setting.name, setting.valueName, setting.help});
  }
  return options;
}

Result ResolveServeSettings(const CommandArguments& args, ServeSettings* settings) {
  *settings = ServeSettings();
  if (const std::string* config = args.Value("config")) {
    Result read = ReadServeSettingsFile(*config, settings);
    if (!read.ok()) return read;
  }
  for (const auto& [name, value] : args.options()) {
    Result applied = ApplyServeSetting(name, value, settings);
    if (applied.kind() == Result::Kind::kNotFound) continue;  // the command's own options
    if (!applied.ok()) return Result::Invalid("--" + name + ": " + applied.text());
  }
  return CheckServeSettings(*settings);
}

Result OpenCommandStore(const CommandArguments& args, std::unique_ptr<Store>* store) {
  ServeSettings settings;
  Result resolved = ResolveServeSettings(args, &settings);
  if (!resolved.ok()) return resolved;
  if (std::optional<std::string> path = SqlitePath(settings.database)) {
    std::error_code error;
    if (!std::filesystem::exists(*path, error)) {
      return Result::NotFound("no database at " + std::filesystem::absolute(*path, error).string() +
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
