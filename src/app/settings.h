#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/admin_ports.h"

namespace palisard {

// Host of the ban service and of the version file unless "OverrideHost"
// names another.
inline constexpr const char* kDefaultServiceHost = "service.palisard.net";
// "OverrideHost" is read into a buffer of this many bytes (text and NUL).
inline constexpr std::size_t kHostBufferSize = 255;

// What "Palisard.ini" (section "Palisard") says, defaults filled in. Read once
// at start-up; never written.
struct Settings {
  int httpPort = 3060;
  int adminPort = kFirstAdminPort;
  int banStreaming = 1;
  int checkForUpdates = 1;
  std::string overrideHost = kDefaultServiceHost;
  // Nonzero: the console also serves other machines that bring the key it
  // prints at start (a second screen beside the game).
  int consoleKey = 0;
};

// "Palisard.ini" in the current directory (where the program was started,
// not where its executable lies).
std::filesystem::path SettingsPath();

Settings ReadSettings(const std::filesystem::path& path);

bool IsAdminPortInRange(int port);
// A port a socket can listen on: 1 to 65535.
bool IsHttpPortInRange(int port);

}  // namespace palisard
