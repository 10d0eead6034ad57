#include "service/cli/command_line.h"

#include <algorithm>

namespace palisard {
namespace {

const OptionSyntax* FindOption(const CommandSyntax& syntax, const std::string& name) {
  for (const OptionSyntax& option : syntax.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

std::string Usage(const OptionSyntax& option) {
  std::string usage = "--" + option.name;
  if (!option.valueName.empty()) usage += " " + option.valueName;
  return option.required ? usage : "[" + usage + "]";
}

}  // namespace

const std::string* CommandArguments::Value(const std::string& name) const {
  auto found = options_.find(name);
  return found == options_.end() ? nullptr : &found->second;
}

Result ParseCommandArguments(const CommandSyntax& syntax, const std::vector<std::string>& args,
                             CommandArguments* parsed) {
  *parsed = CommandArguments();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const bool longForm = arg.compare(0, 2, "--") == 0;
    const std::string name = longForm ? arg.substr(2, equals == std::string::npos ? equals : equals - 2) : "";
    const OptionSyntax* option = longForm ? FindOption(syntax, name) : nullptr;
    if (option == nullptr) return Result::Invalid(syntax.name + ": unknown option '" + arg.substr(0, equals) + "'");
    if (parsed->options_.count(name) != 0) return Result::Invalid(syntax.name + ": --" + name + " is given twice");
    std::string value;
    if (option->valueName.empty()) {
      if (equals != std::string::npos) return Result::Invalid(syntax.name + ": --" + name + " takes no value");
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Result::Invalid(syntax.name + ": --" + name + " needs a value (" + option->valueName + ")");
    }
    parsed->options_[name] = value;
  }
  for (const OptionSyntax& option : syntax.options) {
    if (option.required && !parsed->Flag(option.name)) {
      return Result::Invalid(syntax.name + ": --" + option.name + " " + option.valueName + " is missing");
    }
  }
  const std::size_t want = syntax.operands.size();
  const std::size_t got = parsed->operands_.size();
  if (got < want) return Result::Invalid(syntax.name + ": " + syntax.operands[got] + " is missing");
  if (got > want) return Result::Invalid(syntax.name + ": unexpected argument '" + parsed->operands_[want] + "'");
  return Result::Ok();
}

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

std::string CommandHelp(const std::string& program, const CommandSyntax& syntax) {
  std::string help = "usage: " + program + " " + syntax.name;
  for (const std::string& operand : syntax.operands) help += " " + operand;
  // A long list of settings reads better below than in the synopsis.
  const bool many = syntax.options.size() > 5;
  for (const OptionSyntax& option : syntax.options) {
    if (option.required || !many) help += " " + Usage(option);
  }
  if (many) help += " [OPTIONS]";
  help += "\n\n" + syntax.summary + "\n";
  if (!syntax.description.empty()) help += "\n" + syntax.description + "\n";
  std::size_t width = 0;
  std::vector<std::string> usages;
  for (const OptionSyntax& option : syntax.options) {
    usages.push_back("--" + option.name + (option.valueName.empty() ? "" : " " + option.valueName));
    width = std::max(width, usages.back().size());
  }
  if (!syntax.options.empty()) help += "\noptions:\n";
  for (std::size_t i = 0; i < syntax.options.size(); ++i) {
    help += "  " + usages[i] + std::string(width - usages[i].size() + 2, ' ') + syntax.options[i].help + "\n";
  }
  return help;
}

}  // namespace palisard
