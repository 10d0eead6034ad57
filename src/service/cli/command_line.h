#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/result.h"

namespace palisard {

// One option of a command: "--NAME VALUE" (or "--NAME=VALUE"), or a flag
// "--NAME" when it takes no value.
struct OptionSyntax {
  std::string name;       // without the dashes
  std::string valueName;  // "TEXT", "URL"; empty for a flag
  std::string help;
  bool required = false;
};

// What a command accepts. The name may be several words ("moderator add").
struct CommandSyntax {
  std::string name;
  std::vector<std::string> operands;  // their names, all required: "ID", "FILE"
  std::string summary;                // one line for the list of commands
  std::string description;            // more, for the command's --help; may be empty
  std::vector<OptionSyntax> options;
};

// A command's arguments once read against its syntax.
class CommandArguments {
 public:
  // The value of an option, or nullptr when it was not given.
  const std::string* Value(const std::string& name) const;
  bool Flag(const std::string& name) const { return Value(name) != nullptr; }
  const std::vector<std::string>& operands() const { return operands_; }
  // Every option given, by name; flags have an empty value.
  const std::map<std::string, std::string>& options() const { return options_; }

 private:
  friend Result ParseCommandArguments(const CommandSyntax&, const std::vector<std::string>&, CommandArguments*);
  std::map<std::string, std::string> options_;
  std::vector<std::string> operands_;
};

// Reads `args` (what follows the command's name): options and operands in any
// order, "--" ends the options. kInvalid, with a one-line text, for an
// unknown option, a missing or repeated one, a flag given a value, or too
// few or too many operands.
Result ParseCommandArguments(const CommandSyntax& syntax, const std::vector<std::string>& args,
                             CommandArguments* parsed);

// True when `args` ask for help ("--help" or "-h" before any "--").
bool AsksForHelp(const std::vector<std::string>& args);

// "ban ID --reason TEXT [--for DURATION]", then the description and one line
// per option.
std::string CommandHelp(const std::string& program, const CommandSyntax& syntax);

}  // namespace palisard
