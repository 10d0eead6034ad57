#include "app/settings.h"

#include <system_error>

#include "app/profile_file.h"

namespace palisard {
namespace {

constexpr const char* kSection = "Palisard";

}  // namespace

std::filesystem::path SettingsPath() {
  std::error_code error;
  std::filesystem::path directory = std::filesystem::current_path(error);
  return directory / "Palisard.ini";
}

Settings ReadSettings(const std::filesystem::path& path) {
  ProfileFile profile = ProfileFile::Load(path);
  Settings defaults;
  Settings settings;
  // The profile functions return unsigned values; the program treats them as
  // int, so "-1" reads as -1 and 4294967295 as -1 alike.
  settings.httpPort = static_cast<int>(profile.ReadInt(kSection, "HttpPort", defaults.httpPort));
  settings.adminPort = static_cast<int>(profile.ReadInt(kSection, "AdminPort", defaults.adminPort));
  settings.banStreaming = static_cast<int>(profile.ReadInt(kSection, "BanStreaming", defaults.banStreaming));
  settings.checkForUpdates = static_cast<int>(profile.ReadInt(kSection, "CheckForUpdates", defaults.checkForUpdates));
  settings.overrideHost = profile.ReadString(kSection, "OverrideHost", defaults.overrideHost, kHostBufferSize);
  settings.consoleKey = static_cast<int>(profile.ReadInt(kSection, "ConsoleKey", defaults.consoleKey));
  return settings;
}

bool IsAdminPortInRange(int port) {
  // Compared as an unsigned offset, as the range check has always done.
  return static_cast<unsigned>(port - kFirstAdminPort) <= static_cast<unsigned>(kLastAdminPort - kFirstAdminPort);
}

bool IsHttpPortInRange(int port) { return port >= 1 && port <= 65535; }

}  // namespace palisard
