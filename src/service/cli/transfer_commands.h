#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// Moving bans between databases and communities: export, import.
std::vector<Command> TransferCommands();

}  // namespace palisard
