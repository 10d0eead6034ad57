#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// The shared feed's signing key: feed key, feed show.
std::vector<Command> FeedCommands();

}  // namespace palisard
