#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/clock.h"
#include "common/mutex.h"
#include "service/http/clock_timer.h"
#include "service/http/connection_caps.h"
#include "service/http/http_exchange.h"
#include "service/http/store_workers.h"
#include "service/settings/serve_settings.h"

namespace palisard {

class HttpSession;

// The live connections of one listener, so that a stop reaches each.
// Thread-safe.
class SessionList {
 public:
  // False once the listener stops: the connection is not served.
  bool Add(const std::shared_ptr<HttpSession>& session);
  void Remove(const HttpSession* session);
  // From now on every answer closes its connection, and each connection
  // that waits for a request closes now (HttpSession::Stop).
  void StopAll();
  bool stopping() const { return stopping_; }
  bool empty() const;

 private:
  mutable Mutex mutex_;
  std::atomic<bool> stopping_{false};
  std::unordered_map<const HttpSession*, std::weak_ptr<HttpSession>> live_ GUARDED_BY(mutex_);
};

// What every connection of one listener shares; it outlives them all.
struct SessionContext {
  const ServeSettings& settings;
  const Clock& clock;  // the deadlines' and the store calls' time
  StoreWorkers::Lane workers;
  ConnectionCaps& caps;
  Router router;  // the public port's, or the moderation pages'
  // What a request gets when its store call did not run in time.
  HttpAnswer unanswered;
  // What a connection in the caps' kept share must bring on its request
  // (none: the listener keeps no share).
  std::function<bool(const HttpRequest&)> mayUseKeptShare = {};
  // Where sign-ins run, and how many may wait or run at once; a sign-in
  // past them is answered `busy` at once.
  std::optional<StoreWorkers::Lane> signInLane = std::nullopt;
  std::size_t signInsAtOnce = 0;
  HttpAnswer busy = {};
  std::atomic<std::size_t> signIns{0};
  SessionList sessions{};
};

// One connection, on a strand of the I/O threads: requests read within the header and
// the body deadline and the body limit, answered in turn by the listener's
// router, the store's calls handed to the store workers and their answers
// posted back. It keeps its place in the caps while it lives.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  // The largest request body the port takes (413 past it) and the largest
  // header.
  static constexpr std::size_t kBodyLimit = 64 * 1024;
  static constexpr std::size_t kHeaderLimit = 8 * 1024;
  // The longest a request that has begun can take to be answered: its
  // header, its body, its store call, the answer's write and the wait for
  // the peer to close. A stop waits that long at most.
  static std::chrono::seconds LongestExchange(const ServeSettings& settings);

  // `peer` is the peer's address, `source` its key in the caps. `viaProxy`:
  // the peer is a trusted load balancer, whose X-Forwarded-For names each
  // request's client.
  HttpSession(boost::asio::ip::tcp::socket socket, std::string peer, std::string source, std::string capNetwork,
              bool viaProxy, ConnectionCaps::Place place, SessionContext& context);
  ~HttpSession();

  void Start();
  // The service stops: closes the connection when it waits for a request
  // of which nothing has come; any other finishes its request. Thread-safe.
  void Stop();

 private:
  void ReadHeader();
  void OnHeader(boost::beast::error_code error);
  void StopIfWaiting();
  void ReadBody();
  void OnBody(boost::beast::error_code error);
  // An answer for a request that could not be read, or nothing (the peer
  // left, or took too long).
  void OnReadError(boost::beast::error_code error);
  void Dispatch();
  // The current request's client: the peer, or the one a trusted load
  // balancer names.
  std::string ClientAddress() const;
  // Runs `call` on `workers`; `done` (if any) is counted down once it ran or
  // was dropped.
  void AskStore(StoreCall call, const StoreWorkers::Lane& lane, std::atomic<std::size_t>* done = nullptr);
  void AskSignIn(StoreCall call);
  void OnStoreAnswer(uint64_t call, HttpAnswer answer);
  void Reply(const HttpAnswer& answer, bool keepAlive);
  // The I/O from now on ends, and the connection with it, when `after` has
  // passed: a deadline on the whole of it, however the bytes trickle.
  void ExpireIn(std::chrono::milliseconds after);
  void OnWritten(bool keepAlive, boost::beast::error_code error);
  // Reads and drops what the peer still sends, until it closes or kLinger
  // passes.
  void Linger();

  static constexpr std::chrono::seconds kLinger{2};

  boost::asio::ip::tcp::socket socket_;
  std::string peer_;
  std::string source_;      // its key in the caps
  std::string capNetwork_;  // and its network's
  std::string network_;     // the peer's SourceNetwork
  bool viaProxy_;
  ConnectionCaps::Place place_;
  SessionContext& context_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::empty_body> continue_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  ClockTimer ioDeadline_;     // for the I/O under way
  ClockTimer storeDeadline_;  // for the store call awaited
  std::array<char, 4096> discard_;
  uint64_t calls_ = 0;     // store calls asked; the last is the one awaited
  bool awaiting_ = false;  // a store call is under way and unanswered
  bool waiting_ = false;   // for a request's header
};

}  // namespace palisard
