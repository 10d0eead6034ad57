#pragma once

#include <vector>

#include "service/cli_command.h"

namespace palisard {

// The accounts of the moderation pages: moderator add, list, remove.
std::vector<Command> ModeratorCommands();

}  // namespace palisard
