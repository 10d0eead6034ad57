#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game/match_state.h"
#include "net/accept_loop.h"
#include "net/http_message.h"
#include "net/listener.h"
#include "net/socket.h"
#include "web/pages.h"

namespace palisard {

// The web console: picks the page for a request path and serves one request
// per connection. The actions run on the connection's thread.
class WebConsole {
 public:
  // Takes the request path ("/report?ID..."), returns the result message.
  using Action = std::function<std::string(const std::string& path)>;

  struct Limits {
    std::size_t maxRequestBytes = 64 * 1024;
    std::chrono::milliseconds requestTimeout{10'000};
    std::size_t maxConnections = 64;
    // A browser opens about six connections to one server.
    std::size_t maxPerAddress = 16;
    // While another screen may connect: the share of `maxConnections` this
    // machine keeps for itself, which no other address can take; the
    // others share the rest.
    std::size_t maxLocalConnections = 32;
  };

  // Other machines the console may serve (a second screen beside the
  // game): requests carrying `key`, in the query of a page's address
  // ("?key=...") or in the X-Palisard-Key header the page's script sends
  // with each of its requests; never in a cookie, which the browser would
  // send to every port of the address. They may name this machine by one
  // of `addresses` (host order) as well. A request that brings the key acts
  // only when the console's own script sent it. An empty key: this
  // machine's own requests alone.
  struct SecondScreen {
    std::string key;
    std::vector<uint32_t> addresses;
  };

  WebConsole(const MatchState& state, Action report, Action voteKick, Limits limits, SecondScreen secondScreen = {});

  using BlockList = std::function<std::vector<BlockRow>()>;

  // An answer's body and its header lines naming the type.
  struct Page {
    std::string body;
    const char* headers = kHtmlHeaders;
  };
  static constexpr const char* kHtmlHeaders = "Content-Type: text/html; charset=utf-8\r\n";
  static constexpr const char* kTextHeaders = "Content-Type: text/plain; charset=utf-8\r\n";
  static constexpr const char* kJsonHeaders = "Content-Type: application/json\r\n";

  // The blocks in force for the main page and /match.json, and the action
  // of the "/unblock?ID" link. Set before the accept loop starts; without
  // them no block is shown and the link gets the main page.
  void ServeBlocks(BlockList list, Action unblock);

  // The page for `path`, or nothing (the icon gets no bytes at all). An
  // action's answer is its result page, or with `messageAlone` (a request
  // asking for text: the page's script) its message as text.
  std::optional<Page> PageFor(const std::string& path, bool messageAlone = false) const;

  // Every page shows the players and the chat: only for requests naming
  // this console's own address and port, or naming none (HTTP/1.0 tools).
  // A page served under a foreign name (DNS rebinding) could read it.
  // `otherHosts` ("192.168.1.20") are accepted besides the loopback names.
  static bool MaySee(const HttpMessage& request, uint16_t consolePort, const std::vector<std::string>& otherHosts = {});

  // The report and kick links act in the player's name: only for requests
  // made by this console's own pages, or by no page at all (a typed
  // address, curl). A request naming another host (DNS rebinding) or sent
  // by another site's page is refused.
  static bool MayAct(const HttpMessage& request, uint16_t consolePort, const std::vector<std::string>& otherHosts = {});

  // Serves one connection from `peerAddress` (host order): reads one
  // request (bounded in size and time), answers it, ends the sending side
  // and closes. A peer other than loopback must bring the key; a request
  // naming two hosts is refused (400) whoever sends it.
  void HandleHttpClient(Socket client, uint32_t peerAddress) const;

  // The accept loop of the web port: one thread per connection, at most
  // `maxConnections` at once and `maxPerAddress` from one address (with a
  // key, in two pools: this machine's share and the others'). Fails at once
  // when the listener is not listening; otherwise runs until RequestStop and
  // one more connection.
  Result HttpAcceptLoop(const Listener& listener);
  // For tests: the loop ends after its next accept.
  void RequestStop() { loop_.RequestStop(); }

  const ConnectionSlots& slots() const { return loop_.slots(); }
  const ConnectionSlots& otherScreensSlots() const { return loop_.secondSlots(); }

 private:
  // The message of the action `path` names, after running it; nothing
  // when it names none.
  std::optional<std::string> RunAction(const std::string& path) const;
  // The answer to a complete `request`.
  void Answer(SocketHandle client, const HttpMessage& request, uint32_t peerAddress) const;
  // The key a request brought, in its query or its header.
  enum class KeyCheck { kNone, kWrong, kRight };
  // Why the request for `path` (its key taken out) from `peerAddress` is
  // refused, or null when it is served.
  const char* RefusalOf(const HttpMessage& request, const std::string& path, KeyCheck key, uint32_t peerAddress) const;

  const MatchState& state_;
  Action report_;
  Action voteKick_;
  BlockList blocks_;
  Action unblock_;
  Limits limits_;
  SecondScreen secondScreen_;
  uint16_t port_ = 0;  // set before the loop starts its threads
  AcceptLoop loop_;    // last: its threads use the members above
};

// The status line and fixed headers (`headers`: the type's lines and any
// further ones, each ended by CR LF), then the page. Every answer forbids
// framing, carries the pages' content policy, and is neither kept by the
// browser nor taken for another type than it says.
void SendPage(SocketHandle client, const std::string& page, const char* status = "200 OK",
              const std::string& headers = WebConsole::kHtmlHeaders);

}  // namespace palisard
