#pragma once

#include <vector>

#include "service/cli/command.h"

namespace palisard {

// The endpoints webhooks go to: webhook add, list, remove, test.
std::vector<Command> WebhookCommands();

}  // namespace palisard
