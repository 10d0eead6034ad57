// palisard-service: the community's ban service. The commands live in the
// service library; this is the entry only.
#include <iostream>

#include "common/clock.h"
#include "service/cli/commands.h"
#include "service/cli/current_user.h"
#include "service/cli/password_prompt.h"
#include "service/server.h"

int main(int argc, char** argv) {
  palisard::CliContext context{std::cout,
                               std::cerr,
                               palisard::SystemClock().UnixSeconds(),
                               palisard::CurrentUserName(),
                               palisard::Serve,
                               palisard::ReadNewPassword};
  return palisard::RunServiceCommandLine({argv + 1, argv + argc}, context);
}
