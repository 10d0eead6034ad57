#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// Bans and cases from the command line: ban, lift, bans, show, cases, dismiss.
std::vector<Command> AdminCommands();

}  // namespace palisard
