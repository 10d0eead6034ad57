#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "app/update_prompt.h"
#include "common/console_output.h"
#include "common/version.h"
#include "net/http_client.h"
#include "net/resolve.h"
#include "net/socket.h"

namespace palisard {

struct VersionCheckOptions {
  uint16_t port = 80;
  // The whole check, name resolution included, holds the start-up at most
  // this long; the connect and answer limits come out of what is left.
  std::chrono::milliseconds deadline{5'000};
  HttpClientLimits limits;
  Resolver resolve = ResolveIpv4;
};

// The two lines of the version file: the newest version (the first line
// without its last byte, the CR of its CRLF) and the download address.
struct VersionFile {
  std::string version;
  std::string target;
};
// Nothing when the body holds no LF, or starts with one.
std::optional<VersionFile> ParseVersionFile(const std::string& body);

// Fetches "/version.txt" from `host` (its first line the newest version, the
// second the download address) and, when the version differs from this
// one's, offers to open the address. Every outcome is told on the console;
// nothing stops the start-up.
void CheckVersion(const std::string& host, UpdatePrompt& prompt, const VersionCheckOptions& options,
                  ConsoleSink& console = StandardOutput());

}  // namespace palisard
