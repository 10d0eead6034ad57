#include "service/cli/commands.h"

#include <algorithm>
#include <ostream>
#include <sstream>

#include "common/version.h"
#include "service/cli/ban_commands.h"
#include "service/cli/feed_commands.h"
#include "service/cli/moderator_commands.h"
#include "service/cli/token_commands.h"
#include "service/cli/transfer_commands.h"
#include "service/cli/webhook_commands.h"
#include "service/settings/settings_table.h"
#include "soap/soap_codec.h"

namespace palisard {
namespace {

constexpr const char* kProgram = "palisard-service";

Result RunServe(const CommandArguments& args, CliContext& context) {
  ServeSettings settings;
  Result result = ResolveServeSettings(args, &settings);
  return result.ok() ? context.serve(settings) : result;
}

Command ServeCommand() {
  std::vector<OptionSyntax> options = ServeSettingOptions();
  options.push_back({"config", "FILE", "read these settings from FILE, one 'key = value' a line; options win"});
  const std::string wsdl = std::string("http://HOST") + kContractPath + "?" + kDescriptionQuery;
  return {{"serve",
           {},
           "answer players' copies: the ban contract, /version.txt and its WSDL (the default command)",
           "With no settings it serves on port 80 of every address from palisard-service.db in the working\n"
           "directory, creating it. Several instances may share one PostgreSQL database.\nThe WSDL: " +
               wsdl + "; at http://HOST/ a page says what the service is.",
           std::move(options)},
          RunServe};
}

// Every command, in the order the help lists them. A new command joins here.
std::vector<Command> Commands() {
  std::vector<Command> commands = {ServeCommand()};
  for (auto group : {AdminCommands(), ModeratorCommands(), TransferCommands(), WebhookCommands(), TokenCommands(), FeedCommands()}) {
    for (Command& command : group) commands.push_back(std::move(command));
  }
  return commands;
}

// The command whose name's words begin `args`; the longest such name wins,
// so "moderator add" and "moderator" may both be commands.
const Command* FindCommand(const std::vector<Command>& commands, const std::vector<std::string>& args,
                           std::size_t* words) {
  const Command* found = nullptr;
  *words = 0;
  for (const Command& command : commands) {
    std::vector<std::string> name;
    std::istringstream split(command.syntax.name);
    for (std::string word; split >> word;) name.push_back(word);
    if (name.size() > *words && name.size() <= args.size() && std::equal(name.begin(), name.end(), args.begin())) {
      found = &command;
      *words = name.size();
    }
  }
  return found;
}

// An error as one line: the database's own texts break lines and indent
// ("...failed: Connection refused\n\tIs the server running..."), and
// whatever the text holds must not steer the terminal.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool blank = byte < 0x20 || byte == 0x7F || c == ' ';
    if (!blank) {
      line.push_back(c);
    } else if (!line.empty() && line.back() != ' ') {
      line.push_back(' ');
    }
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string ProgramHelp(const std::vector<Command>& commands) {
  std::string help = std::string("usage: ") + kProgram +
                     " [COMMAND] [OPTIONS]\n\n"
                     "The ban service of a Palisard community: the hosts' copies of Palisard ask it which players\n"
                     "are banned and send it their players' reports.\n\ncommands:\n";
  std::size_t width = 0;
  for (const Command& command : commands) width = std::max(width, command.syntax.name.size());
  for (const Command& command : commands) {
    help += "  " + command.syntax.name + std::string(width - command.syntax.name.size() + 2, ' ') +
            command.syntax.summary + "\n";
  }
  return help + "\n" + kProgram + " COMMAND --help tells more of each.\n";
}

}  // namespace

int RunServiceCommandLine(const std::vector<std::string>& args, CliContext& context) {
  const std::vector<Command> commands = Commands();
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    context.out << ProgramHelp(commands);
    return kExitOk;
  }
  if (!args.empty() && args[0] == "--version") {
    context.out << kProgram << " " << kProgramVersion << "\n";
    return kExitOk;
  }
  std::size_t words = 0;
  const Command* command =
      args.empty() || args[0].rfind('-', 0) == 0 ? &commands[0] : FindCommand(commands, args, &words);
  if (command == nullptr) {
    context.err << kProgram << ": unknown command '" << OneLine(args[0]) << "' (" << kProgram
                << " --help lists them)\n";
    return kExitBadInput;
  }
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(words), args.end());
  if (AsksForHelp(rest)) {
    context.out << CommandHelp(kProgram, command->syntax);
    return kExitOk;
  }
  CommandArguments parsed;
  Result result = ParseCommandArguments(command->syntax, rest, &parsed);
  if (result.ok()) result = command->run(parsed, context);
  if (result.ok()) return kExitOk;
  context.err << kProgram << ": " << OneLine(result.text()) << "\n";
  return result.kind() == Result::Kind::kInvalid ? kExitBadInput : kExitFailed;
}

}  // namespace palisard
