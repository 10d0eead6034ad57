#include "web/web_console.h"

#include <utility>

#include "common/clock.h"
#include "net/http_message.h"
#include "web/pages.h"

namespace palisard {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

WebConsole::WebConsole(const MatchState& state, Action report, Action voteKick, Limits limits)
    : state_(state),
      report_(std::move(report)),
      voteKick_(std::move(voteKick)),
      limits_(limits),
      // One browser opens several connections; the per-address bound is the
      // total one.
      loop_({limits.maxConnections, limits.maxConnections},
            [this](Socket client, uint32_t) { HandleHttpClient(std::move(client)); }) {}

std::optional<std::string> WebConsole::PageFor(const std::string& path) const {
  if (StartsWith(path, "/favicon.ico")) return std::nullopt;
  if (StartsWith(path, "/report?")) return BuildResultPage(report_(path));
  if (StartsWith(path, "/votekick?")) return BuildResultPage(voteKick_(path));
  return BuildMainPage(state_);
}

void WebConsole::HandleHttpClient(Socket client) const {
  HttpMessage request(limits_.maxRequestBytes);
  const Deadline deadline(SystemClock(), limits_.requestTimeout);
  // Bounds every receive and the answer's send; a request that needs more
  // than one receive gets the remaining time before each further one.
  SetIoTimeout(client.get(), static_cast<int>(limits_.requestTimeout.count()));
  char buffer[256];
  while (request.status == HttpMessage::kIncomplete) {
    int received = ReceiveBefore(client.get(), deadline, buffer, sizeof(buffer));
    if (received <= 0) break;
    request.Feed(buffer, static_cast<std::size_t>(received));
  }
  if (request.status == HttpMessage::kComplete) {
    if (std::optional<std::string> page = PageFor(request.Target())) SendPage(client.get(), *page);
  }
  ShutdownSend(client.get());
}

void SendPage(SocketHandle client, const std::string& page) {
  // Header block and page in one send: one system call, one segment.
  std::string answer =
      "HTTP/1.1 200 OK\r\n"
      "Server: palisard\r\n"
      "Content-Type: text/html\r\n"
      "Accept-Ranges: bytes\r\n"
      "Content-Length: " +
      std::to_string(page.size()) + "\r\n\r\n";
  answer += page;
  SendAll(client, answer.data(), answer.size());
}

}  // namespace palisard
