#include "web/web_console.h"

#include <thread>
#include <utility>

#include "web/http_message.h"
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
      slots_(limits.maxConnections, limits.maxConnections),
      threads_(std::chrono::seconds(2)) {}

std::optional<std::string> WebConsole::PageFor(const std::string& path) const {
  if (StartsWith(path, "/favicon.ico")) return std::nullopt;
  if (StartsWith(path, "/report?")) return BuildResultPage(report_(path));
  if (StartsWith(path, "/votekick?")) return BuildResultPage(voteKick_(path));
  return BuildMainPage(state_);
}

void WebConsole::HandleHttpClient(Socket client) const {
  HttpMessage request(limits_.maxRequestBytes);
  const auto deadline = std::chrono::steady_clock::now() + limits_.requestTimeout;
  // Bounds every receive and the answer's send; a request that needs more
  // than one receive gets the remaining time before each further one.
  SetIoTimeout(client.get(), static_cast<int>(limits_.requestTimeout.count()));
  char buffer[256];
  for (bool first = true; request.status == HttpMessage::kIncomplete; first = false) {
    if (!first) {
      auto remaining =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (remaining.count() <= 0) break;
      SetReceiveTimeout(client.get(), static_cast<int>(remaining.count()));
    }
    int received = ReceiveBytes(client.get(), buffer, sizeof(buffer));
    if (received <= 0) break;
    request.Feed(buffer, static_cast<std::size_t>(received));
  }
  if (request.status == HttpMessage::kComplete) {
    if (std::optional<std::string> page = PageFor(request.Target())) SendPage(client.get(), *page);
  }
  ShutdownSend(client.get());
}

int WebConsole::HttpAcceptLoop(const TcpServer& server) {
  if (server.listenSocket == kInvalidSocket) return 1;
  while (!stopping_) {
    Ipv4Endpoint peer;
    Socket client(AcceptConnection(server.listenSocket, &peer));
    if (stopping_) break;
    if (!client.valid()) {
      // Out of descriptors, say: wait a moment rather than spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ServeConnection(std::move(client), peer.address, slots_, threads_,
                    [this](Socket connection) { HandleHttpClient(std::move(connection)); });
  }
  return 0;
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
