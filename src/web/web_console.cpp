#include "web/web_console.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/ascii_text.h"
#include "common/clock.h"
#include "common/ipv4.h"
#include "net/http_message.h"
#include "web/pages.h"
#include "web/routes.h"

namespace palisard {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsActionPath(const std::string& path) {
  return StartsWith(path, kReportRoute) || StartsWith(path, kVoteKickRoute) || StartsWith(path, kUnblockRoute);
}

constexpr const char* kRefusal = "Refused: this console answers only its own address and acts only for its own pages.";
constexpr const char* kKeyNeeded =
    "Refused: another screen needs the console's address with its key, printed on the player's console.";
constexpr const char* kKeyChanged =
    "Refused: the console's key has changed (Palisard was started again). Open the new address printed on the "
    "player's console.";
constexpr const char* kTwoHosts = "Refused: this request names more than one host.";
constexpr const char* kPlainLink =
    "Refused: on another screen the console acts only from its own page, with scripts on. Go back to the console "
    "and use the link there.";

// "127.0.0.1:3060", "localhost:3060" or "[::1]:3060" in any case, or one of
// `otherHosts` with the port; the port may be left out when it is 80.
bool IsOwnHostAndPort(const std::string& hostAndPort, uint16_t port, const std::vector<std::string>& otherHosts) {
  const std::string value = AsciiLowercase(hostAndPort);
  auto named = [&](const std::string& host) {
    return value == host + ":" + std::to_string(port) || (port == 80 && value == host);
  };
  for (const char* host : {"127.0.0.1", "localhost", "[::1]"}) {
    if (named(host)) return true;
  }
  return std::any_of(otherHosts.begin(), otherHosts.end(), named);
}

// An Origin, or the origin part of a Referer: "http://" and the console's
// own host and port. "null" and every other scheme are another origin.
bool IsOwnOrigin(const std::string& url, uint16_t port, const std::vector<std::string>& otherHosts) {
  const std::size_t schemeEnd = sizeof("http://") - 1;
  if (AsciiLowercase(url.substr(0, schemeEnd)) != "http://") return false;
  const std::size_t end = std::min(url.find_first_of("/?#", schemeEnd), url.size());
  return IsOwnHostAndPort(url.substr(schemeEnd, end - schemeEnd), port, otherHosts);
}

// The page's script asks for an action's message alone, as text.
bool WantsText(const HttpMessage& request) {
  const char* accept = request.HeaderValue("accept");
  return accept != nullptr && AsciiLowercase(accept).rfind("text/plain", 0) == 0;
}

// Takes the "key=" parameter out of the query of `path` (the rest stays as
// it was, so the routes see the path they always saw) and returns its value.
std::optional<std::string> TakeQueryKey(std::string& path) {
  const std::size_t query = path.find('?');
  if (query == std::string::npos) return std::nullopt;
  for (std::size_t start = query + 1; start <= path.size();) {
    const std::size_t end = std::min(path.find('&', start), path.size());
    if (path.compare(start, 4, "key=") == 0) {
      std::string value = path.substr(start + 4, end - start - 4);
      // With the '&' after it, or else the one before it.
      if (end < path.size()) {
        path.erase(start, end + 1 - start);
      } else {
        path.erase(start > query + 1 ? start - 1 : start);
      }
      return value;
    }
    start = end + 1;
  }
  return std::nullopt;
}

// The key the console's script sends with each request of its page. Never
// a cookie: a browser sends an address's cookies to all its ports, and
// lets a page on any of them set one.
std::optional<std::string> HeaderKey(const HttpMessage& request) {
  const char* value = request.HeaderValue("x-palisard-key");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The request names one host, so that no two readers of it can take it
// for two: one Host header at most, and a target in absolute form
// ("http://host:port/path") only beside a Host naming the same. `path`
// becomes such a target's path.
bool NamesOneHost(const HttpMessage& request, std::string& path) {
  if (request.HeaderCount("host") > 1) return false;
  const std::size_t schemeEnd = path.find("://");
  if (path.empty() || path[0] == '/' || schemeEnd == std::string::npos) return true;
  const std::size_t start = schemeEnd + 3;
  const std::size_t end = std::min(path.find_first_of("/?#", start), path.size());
  const char* host = request.HeaderValue("host");
  if (host == nullptr || AsciiLowercase(host) != AsciiLowercase(path.substr(start, end - start))) return false;
  path = (end < path.size() && path[end] == '/' ? "" : "/") + path.substr(end);
  return true;
}

// Looks at every character of the key whatever the guess: the time taken
// tells nothing of how much of it was right.
bool IsKey(const std::optional<std::string>& given, const std::string& key) {
  if (!given || key.empty()) return false;
  unsigned difference = given->size() == key.size() ? 0 : 1;
  for (std::size_t i = 0; i < key.size(); ++i) {
    difference |= static_cast<unsigned char>(key[i]) ^ static_cast<unsigned char>(i < given->size() ? (*given)[i] : 0);
  }
  return difference == 0;
}

// Added by the console page's script to its actions. Another site's page
// cannot add a header of its own to a request without asking first (a
// preflight), and the console grants no such request.
bool FromOwnScript(const HttpMessage& request) { return request.HeaderValue("x-palisard-page") != nullptr; }

// With another screen, this machine's share of the slots, which no other
// address can take, and the others' pool for the rest.
AcceptLoop::Limits OwnPool(const WebConsole::Limits& limits, bool secondScreen) {
  if (!secondScreen) return {limits.maxConnections, limits.maxPerAddress};
  return {std::min(limits.maxLocalConnections, limits.maxConnections), limits.maxPerAddress};
}

AcceptLoop::SecondPool OthersPool(const WebConsole::Limits& limits, bool secondScreen) {
  if (!secondScreen) return {};
  const std::size_t own = OwnPool(limits, true).maxConnections;
  return {IsLoopback, {limits.maxConnections - own, limits.maxPerAddress}};
}

}  // namespace

WebConsole::WebConsole(const MatchState& state, Action report, Action voteKick, Limits limits,
                       SecondScreen secondScreen)
    : state_(state),
      report_(std::move(report)),
      voteKick_(std::move(voteKick)),
      limits_(limits),
      secondScreen_(std::move(secondScreen)),
      loop_(
          OwnPool(limits, !secondScreen_.key.empty()),
          [this](Socket client, uint32_t peer) { HandleHttpClient(std::move(client), peer); }, {},
          OthersPool(limits, !secondScreen_.key.empty())) {}

void WebConsole::ServeBlocks(BlockList list, Action unblock) {
  blocks_ = std::move(list);
  unblock_ = std::move(unblock);
}

std::optional<std::string> WebConsole::RunAction(const std::string& path) const {
  if (StartsWith(path, kReportRoute)) return report_(path);
  if (StartsWith(path, kVoteKickRoute)) return voteKick_(path);
  if (StartsWith(path, kUnblockRoute) && unblock_) return unblock_(path);
  return std::nullopt;
}

std::optional<WebConsole::Page> WebConsole::PageFor(const std::string& path, bool messageAlone) const {
  if (StartsWith(path, "/favicon.ico")) return std::nullopt;
  if (std::optional<std::string> message = RunAction(path)) {
    return messageAlone ? Page{*message, kTextHeaders} : Page{BuildResultPage(*message)};
  }
  const std::vector<BlockRow> blocks = blocks_ ? blocks_() : std::vector<BlockRow>{};
  if (StartsWith(path, "/match.json")) return Page{BuildMatchJson(state_, blocks), kJsonHeaders};
  return Page{BuildMainPage(state_, blocks)};
}

bool WebConsole::MaySee(const HttpMessage& request, uint16_t consolePort, const std::vector<std::string>& otherHosts) {
  const char* host = request.HeaderValue("host");
  return host == nullptr || IsOwnHostAndPort(host, consolePort, otherHosts);
}

bool WebConsole::MayAct(const HttpMessage& request, uint16_t consolePort, const std::vector<std::string>& otherHosts) {
  if (request.HeaderValue("host") == nullptr || !MaySee(request, consolePort, otherHosts)) return false;
  const char* origin = request.HeaderValue("origin");
  if (origin != nullptr && !IsOwnOrigin(origin, consolePort, otherHosts)) return false;
  const char* site = request.HeaderValue("sec-fetch-site");
  if (site != nullptr && (AsciiLowercase(site) == "cross-site" || AsciiLowercase(site) == "same-site")) return false;
  const char* referer = request.HeaderValue("referer");
  return referer == nullptr || IsOwnOrigin(referer, consolePort, otherHosts);
}

Result WebConsole::HttpAcceptLoop(const Listener& listener) {
  port_ = LocalPort(listener.socket()).value_or(0);
  return loop_.Run(listener);
}

const char* WebConsole::RefusalOf(const HttpMessage& request, const std::string& path, KeyCheck key,
                                  uint32_t peerAddress) const {
  const bool keyed = key == KeyCheck::kRight;
  if (!keyed && !IsLoopback(peerAddress)) return key == KeyCheck::kWrong ? kKeyChanged : kKeyNeeded;
  // With the key, the request may name this machine by the addresses
  // printed at start. The icon too: every route answers the same to a
  // foreign Host.
  std::vector<std::string> otherHosts;
  if (keyed) {
    for (uint32_t address : secondScreen_.addresses) otherHosts.push_back(DottedAddress(address));
  }
  if (!MaySee(request, port_, otherHosts)) return kRefusal;
  if (!IsActionPath(path)) return nullptr;
  if (!MayAct(request, port_, otherHosts)) return kRefusal;
  return keyed && !FromOwnScript(request) ? kPlainLink : nullptr;
}

void WebConsole::Answer(SocketHandle client, const HttpMessage& request, uint32_t peerAddress) const {
  const bool messageAlone = WantsText(request);
  auto refuse = [&](const char* status, const char* why) {
    if (messageAlone) {
      SendPage(client, why, status, kTextHeaders);
    } else {
      SendPage(client, BuildRefusalPage(why), status);
    }
  };
  std::string path = request.Target();
  if (!NamesOneHost(request, path)) return refuse("400 Bad Request", kTwoHosts);
  const std::optional<std::string> queryKey = TakeQueryKey(path);
  const std::optional<std::string> headerKey = HeaderKey(request);
  KeyCheck key = queryKey || headerKey ? KeyCheck::kWrong : KeyCheck::kNone;
  if (IsKey(queryKey, secondScreen_.key) || IsKey(headerKey, secondScreen_.key)) key = KeyCheck::kRight;
  if (const char* refusal = RefusalOf(request, path, key, peerAddress)) return refuse("403 Forbidden", refusal);
  if (std::optional<Page> page = PageFor(path, messageAlone)) SendPage(client, page->body, "200 OK", page->headers);
}

void WebConsole::HandleHttpClient(Socket client, uint32_t peerAddress) const {
  HttpMessage request(limits_.maxRequestBytes);
  const Deadline deadline(SystemClock(), limits_.requestTimeout);
  // Bounds every receive and the answer's send; a request that needs more
  // than one receive gets the remaining time before each further one.
  if (!SetIoTimeout(client.get(), limits_.requestTimeout).ok()) return;  // unbounded: not served
  char buffer[256];
  std::size_t received = 0;
  while (request.status == HttpMessage::kIncomplete &&
         ReceiveBefore(client.get(), deadline, buffer, sizeof(buffer), &received).ok()) {
    request.Feed(buffer, received);
  }
  if (request.status == HttpMessage::kComplete) Answer(client.get(), request, peerAddress);
  ShutdownSend(client.get());
}

void SendPage(SocketHandle client, const std::string& page, const char* status, const std::string& headers) {
  // Header block and page in one send: one system call, one segment.
  std::string answer = "HTTP/1.1 " + std::string(status) +
                       "\r\n"
                       "Server: palisard\r\n" +
                       headers +
                       "X-Frame-Options: DENY\r\n"
                       // A second screen's address holds its key: the
                       // profile links must not carry it to another site.
                       "Referrer-Policy: same-origin\r\n"
                       // Nor may a browser keep any answer on its disk (the
                       // players, the chat, an address with the key), or
                       // take one for another type than it names.
                       "Cache-Control: no-store\r\n"
                       "X-Content-Type-Options: nosniff\r\n"
                       "Content-Security-Policy: " +
                       kContentSecurityPolicy +
                       "\r\n"
                       "Accept-Ranges: bytes\r\n"
                       "Content-Length: " +
                       std::to_string(page.size()) + "\r\n\r\n";
  answer += page;
  // A browser gone before its answer has nothing more to be told.
  (void)SendAll(client, answer.data(), answer.size());
}

}  // namespace palisard
