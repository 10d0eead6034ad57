#include "app/version_check.h"

#include <algorithm>
#include <vector>

#include "common/clock.h"
#include "common/console_output.h"
#include "net/resolve.h"
#include "net/socket.h"

namespace palisard {
namespace {

bool IsWebAddress(const std::string& target) {
  return target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0;
}

}  // namespace

std::optional<VersionFile> ParseVersionFile(const std::string& body) {
  std::size_t lineEnd = body.find('\n');
  if (lineEnd == std::string::npos || lineEnd == 0) return std::nullopt;
  return VersionFile{body.substr(0, lineEnd - 1), body.substr(lineEnd + 1)};
}

void CheckVersion(const std::string& host, UpdatePrompt& prompt, const VersionCheckOptions& options,
                  ConsoleSink& console) {
  console.Print("Checking version..\n");
  const Deadline deadline(SystemClock(), options.deadline);
  std::vector<uint32_t> addresses;
  Result found = ResolveWithin(options.resolve, host, deadline.Remaining(), &addresses);
  Socket socket;
  for (std::size_t i = 0; found.ok() && i < addresses.size() && !socket.valid() && !deadline.Passed(); ++i) {
    (void)ConnectToFirst({addresses[i]}, options.port, std::min(options.limits.connect, deadline.Remaining()), &socket);
  }
  if (!socket.valid()) {
    console.Print("Error finding version server..\n");
    return;
  }
  const std::string request = "GET /version.txt HTTP/1.1\r\nHost: " + host + "\r\nContent-Type: text\r\n\r\n";
  HttpClientLimits limits = options.limits;
  limits.answer = std::min(limits.answer, deadline.Remaining());
  HttpAnswer answer;
  // A zero limit would mean none at all to the socket's time-outs.
  if (deadline.Passed() || !ExchangeHttp(socket.get(), request, limits, &answer).ok() || !IsOkAnswer(answer.message)) {
    console.Print("Error retrieving version information..\n");
    return;
  }
  std::optional<VersionFile> file = ParseVersionFile(answer.body);
  if (!file) return;
  // Both come from a remote file: what reaches the terminal is stripped.
  const std::string& version = file->version;
  const std::string& target = file->target;
  if (version == kProgramVersion) {
    console.Print("Version is up to date..\n");
    return;
  }
  const std::string caption = "New version, " + PrintableText(version) + ", is available";
  console.Print("%s\n", caption.c_str());
  if (!prompt.AskToDownload(caption)) return;
  // The answer travels in plain HTTP: only a web address is handed on.
  if (!IsWebAddress(target)) {
    console.Print("Not opening the download address, it is not a web address: %s\n", PrintableText(target).c_str());
    return;
  }
  prompt.OpenAddress(target);
}

}  // namespace palisard
