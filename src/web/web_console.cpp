#include "web/web_console.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/clock.h"
#include "net/http_message.h"
#include "web/pages.h"

namespace palisard {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsActionPath(const std::string& path) {
  return StartsWith(path, "/report?") || StartsWith(path, "/votekick?") || StartsWith(path, "/unblock?");
}

constexpr const char* kRefusedPage =
    "<html><body>Refused: this console answers only its own address and acts only for its own pages.</body></html>\n";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "127.0.0.1:3060", "localhost:3060" or "[::1]:3060" in any case; the port
// may be left out when it is 80.
bool IsOwnHostAndPort(const std::string& hostAndPort, uint16_t port) {
  const std::string value = Lower(hostAndPort);
  for (const char* host : {"127.0.0.1", "localhost", "[::1]"}) {
    if (value == std::string(host) + ":" + std::to_string(port)) return true;
    if (port == 80 && value == host) return true;
  }
  return false;
}

// An Origin, or the origin part of a Referer: "http://" and the console's
// own host and port. "null" and every other scheme are another origin.
bool IsOwnOrigin(const std::string& url, uint16_t port) {
  const std::size_t schemeEnd = sizeof("http://") - 1;
  if (Lower(url.substr(0, schemeEnd)) != "http://") return false;
  const std::size_t end = std::min(url.find_first_of("/?#", schemeEnd), url.size());
  return IsOwnHostAndPort(url.substr(schemeEnd, end - schemeEnd), port);
}

}  // namespace

WebConsole::WebConsole(const MatchState& state, Action report, Action voteKick, Limits limits)
    : state_(state),
      report_(std::move(report)),
      voteKick_(std::move(voteKick)),
      limits_(limits),
      loop_({limits.maxConnections, limits.maxPerAddress},
            [this](Socket client, uint32_t) { HandleHttpClient(std::move(client)); }) {}

void WebConsole::ServeBlocks(BlockList list, Action unblock) {
  blocks_ = std::move(list);
  unblock_ = std::move(unblock);
}

std::optional<WebConsole::Page> WebConsole::PageFor(const std::string& path) const {
  if (StartsWith(path, "/favicon.ico")) return std::nullopt;
  if (StartsWith(path, "/report?")) return Page{BuildResultPage(report_(path))};
  if (StartsWith(path, "/votekick?")) return Page{BuildResultPage(voteKick_(path))};
  if (StartsWith(path, "/unblock?") && unblock_) return Page{BuildResultPage(unblock_(path))};
  const std::vector<BlockRow> blocks = blocks_ ? blocks_() : std::vector<BlockRow>{};
  if (StartsWith(path, "/match.json")) return Page{BuildMatchJson(state_, blocks), kJsonHeaders};
  return Page{BuildMainPage(state_, blocks)};
}

bool WebConsole::MaySee(const HttpMessage& request, uint16_t consolePort) {
  const char* host = request.HeaderValue("host");
  return host == nullptr || IsOwnHostAndPort(host, consolePort);
}

bool WebConsole::MayAct(const HttpMessage& request, uint16_t consolePort) {
  if (request.HeaderValue("host") == nullptr || !MaySee(request, consolePort)) return false;
  const char* origin = request.HeaderValue("origin");
  if (origin != nullptr && !IsOwnOrigin(origin, consolePort)) return false;
  const char* site = request.HeaderValue("sec-fetch-site");
  if (site != nullptr && (Lower(site) == "cross-site" || Lower(site) == "same-site")) return false;
  const char* referer = request.HeaderValue("referer");
  return referer == nullptr || IsOwnOrigin(referer, consolePort);
}

int WebConsole::HttpAcceptLoop(const Listener& listener) {
  port_ = LocalPort(listener.socket());
  return loop_.Run(listener);
}

void WebConsole::HandleHttpClient(Socket client) const {
  HttpMessage request(limits_.maxRequestBytes);
  const Deadline deadline(SystemClock(), limits_.requestTimeout);
  // Bounds every receive and the answer's send; a request that needs more
  // than one receive gets the remaining time before each further one.
  if (!SetIoTimeout(client.get(), limits_.requestTimeout).ok()) return;  // unbounded: not served
  char buffer[256];
  while (request.status == HttpMessage::kIncomplete) {
    int received = ReceiveBefore(client.get(), deadline, buffer, sizeof(buffer));
    if (received <= 0) break;
    request.Feed(buffer, static_cast<std::size_t>(received));
  }
  if (request.status == HttpMessage::kComplete) {
    const std::string path = request.Target();
    // The icon too: every route answers the same to a foreign Host.
    if (!MaySee(request, port_) || (IsActionPath(path) && !MayAct(request, port_))) {
      SendPage(client.get(), kRefusedPage, "403 Forbidden");
    } else if (std::optional<Page> page = PageFor(path)) {
      SendPage(client.get(), page->body, "200 OK", page->headers);
    }
  }
  ShutdownSend(client.get());
}

void SendPage(SocketHandle client, const std::string& page, const char* status, const char* headers) {
  // Header block and page in one send: one system call, one segment.
  std::string answer = "HTTP/1.1 " + std::string(status) +
                       "\r\n"
                       "Server: palisard\r\n" +
                       headers +
                       "Accept-Ranges: bytes\r\n"
                       "Content-Length: " +
                       std::to_string(page.size()) + "\r\n\r\n";
  answer += page;
  // A browser gone before its answer has nothing more to be told.
  (void)SendAll(client, answer.data(), answer.size());
}

}  // namespace palisard
