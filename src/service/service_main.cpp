// palisard-service: the community's ban service. The commands live in the
// service library; this is the entry only.
#include <chrono>
#include <iostream>

#include "service/cli/commands.h"
#include "service/cli/current_user.h"
#include "service/cli/password_prompt.h"
#include "service/server.h"

int main(int argc, char** argv) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  palisard::CliContext context{std::cout,
                               std::cerr,
                               std::chrono::duration_cast<std::chrono::seconds>(now).count(),
                               palisard::CurrentUserName(),
                               palisard::Serve,
                               palisard::ReadNewPassword};
  return palisard::RunServiceCommandLine({argv + 1, argv + argc}, context);
}
