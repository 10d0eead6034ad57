#include "service/cli_command.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "service/serve_options.h"

namespace palisard {
namespace {

bool IsPostgresUrl(const std::string& url) {
  return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

// The file an SQLite URL names, as OpenStore reads it; nothing for PostgreSQL.
std::optional<std::string> SqlitePath(const std::string& url) {
  if (IsPostgresUrl(url)) return std::nullopt;
  return url.rfind("sqlite:", 0) == 0 ? url.substr(7) : url;
}

}  // namespace

std::vector<OptionSpec> StoreOptions() {
  return {
      {"database", "URL",
       "the database: an SQLite file or a postgresql:// URL (default " + ServeSettings().database + ")"},
      {"config", "FILE", "take the database from serve's settings file"},
  };
}

std::string ShownDatabase(const std::string& url) {
  if (!IsPostgresUrl(url)) return url;
  std::string shown = url;
  const std::size_t userStart = shown.find("://") + 3;
  const std::size_t at = shown.find('@', userStart);
  const std::size_t colon = shown.find(':', userStart);
  if (at != std::string::npos && colon < at) shown.replace(colon + 1, at - colon - 1, "***");
  const std::size_t parameter = shown.find("password=");
  if (parameter != std::string::npos) {
    const std::size_t value = parameter + 9;
    shown.replace(value, shown.find('&', value) - value, "***");
  }
  return shown;
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
