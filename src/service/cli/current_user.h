#pragma once

#include <string>

namespace palisard {

// The name of the person running this process, for the audit: the user who
// called sudo when run through it (so "sudo -u palisard-service" still names
// the administrator), else the process's own user; "uid N" when the system
// knows no name.
std::string CurrentUserName();

}  // namespace palisard
