#pragma once

#include <string>

#include "common/result.h"

namespace palisard {

// Reads a new password for `moderator add`: on a terminal, typed twice
// without echo (prompts on standard error) and refused when the two differ;
// otherwise the first line of standard input, so scripts can pipe it in.
Result ReadNewPassword(std::string* password);

}  // namespace palisard
