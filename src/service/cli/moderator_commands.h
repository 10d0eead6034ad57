#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// The accounts of the moderation pages: moderator add, list, remove.
std::vector<Command> ModeratorCommands();

}  // namespace palisard
