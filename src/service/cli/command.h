#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "service/cli/command_line.h"
#include "service/settings/serve_settings.h"
#include "store/store.h"

namespace palisard {

// What a command of palisard-service runs with; the entry fills it from the
// process, tests with their own streams, time and server.
struct CliContext {
  std::ostream& out;
  std::ostream& err;
  UnixTime now = 0;
  std::string user;  // who runs the command: the audit's actor is "cli:" and this name
  std::function<Result(const ServeSettings&)> serve;
  // Reads a new account's password (`moderator add`).
  std::function<Result(std::string*)> readPassword;
};

// One command of the command line. `run` gets arguments that passed `syntax`;
// it prints what it did only after the store committed it, and returns a
// failure with a one-line text otherwise.
struct Command {
  CommandSyntax syntax;
  Result (*run)(const CommandArguments& args, CliContext& context);
};

// A command's own options, then "--database URL" and "--config FILE":
// every command that works on the store takes them.
std::vector<OptionSyntax> StoreOptions(std::vector<OptionSyntax> own = {});

// Every setting of `serve` as a long option, with its default in the help.
std::vector<OptionSyntax> ServeSettingOptions();

// The settings a command runs with: the defaults, then the file that
// "--config" names (when given), then the serve options given on the
// command line, which win.
Result ResolveServeSettings(const CommandArguments& args, ServeSettings* settings);

// Opens the database that --database, the --config file or the default
// names. Only `serve` creates an SQLite file: a command run in another
// directory than the service's must not ban into a new, empty database that
// no service reads, so a missing file is an error saying where it looked.
Result OpenCommandStore(const CommandArguments& args, std::unique_ptr<Store>* store);

// The audit's "who" and "from" for a change made on the command line.
Actor CliActor(const CliContext& context);

}  // namespace palisard
