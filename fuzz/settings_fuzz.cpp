// The settings file reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  palisard::ProfileFile profile = palisard::ProfileFile::Parse(text);
  for (const char* key : {"HttpPort", "AdminPort", "BanStreaming", "CheckForUpdates"}) {
    (void)profile.ReadInt("Palisard", key, 7);
  }
  if (profile.ReadString("Palisard", "OverrideHost", "x", 255).size() > 254) __builtin_trap();
  (void)palisard::ParseProfileInteger(text);
  return 0;
}
