#include "service/cli/current_user.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace palisard {

std::string CurrentUserName() {
  const char* sudoUser = std::getenv("SUDO_USER");
  if (sudoUser != nullptr && *sudoUser != '\0') return sudoUser;
  const uid_t uid = getuid();
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return "uid " + std::to_string(uid);
}

}  // namespace palisard
