#pragma once

#include <string>
#include <vector>

#include "service/cli/command.h"

namespace palisard {

// Exit statuses of palisard-service.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the command could not be done: no database, no such ban
inline constexpr int kExitBadInput = 2;  // the command line or a file it names breaks a rule

// Runs `palisard-service ARGS...` (`args` without the program's name): the
// command the first argument names, or serve when it names none. Errors go
// to `context.err` as one line; returns the exit status.
int RunServiceCommandLine(const std::vector<std::string>& args, CliContext& context);

}  // namespace palisard
