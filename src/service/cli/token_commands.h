#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// The community's bots' API tokens: token add, list, remove.
std::vector<Command> TokenCommands();

}  // namespace palisard
