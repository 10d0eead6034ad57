#include "service/server.h"

#include <sys/resource.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <string>
#include <thread>
#include <utility>

#include "common/console_output.h"
#include "service/connection_caps.h"
#include "service/contract.h"
#include "service/http_session.h"
#include "service/moderation_routes.h"
#include "service/page_answers.h"
#include "service/sighting_log.h"
#include "service/source_network.h"
#include "store/database_url.h"

namespace palisard {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

Result Invalid(std::string text) { return Result::Failure(Result::Kind::kInvalid, 0, std::move(text)); }

// "ADDR:PORT" or "[ADDR]:PORT".
Result ParseListen(const std::string& text, tcp::endpoint* endpoint) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return Invalid("not ADDR:PORT: " + text);
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = text.substr(colon + 1);
  uint16_t number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  boost::system::error_code bad;
  const asio::ip::address address = asio::ip::make_address(host, bad);
  if (error != std::errc() || end != port.data() + port.size() || bad) return Invalid("not ADDR:PORT: " + text);
  *endpoint = tcp::endpoint(address, number);
  return Result::Ok();
}

// A descriptor for every connection the caps allow, and some to spare for
// the listener and the store: the soft limit raised to the hard one, and
// the cap lowered when even that is too few.
std::size_t ConnectionsWithinFileLimit(std::size_t wanted) {
  constexpr rlim_t kSpare = 64;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) (void)getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted + kSpare) return wanted;
  const std::size_t fits = limit.rlim_cur > 2 * kSpare ? limit.rlim_cur - kSpare : limit.rlim_cur / 2;
  Print("palisard-service: open files are limited to %llu, so at most %zu connections\n",
        static_cast<unsigned long long>(limit.rlim_cur), fits);
  return fits;
}

// One listening address: its acceptor and what its connections share.
class Listener {
 public:
  Listener(asio::io_context& io, const char* what, SessionContext& context)
      : what_(what), context_(context), acceptor_(io), retry_(io) {}

  Result Listen(const std::string& address) {
    tcp::endpoint endpoint;
    Result parsed = ParseListen(address, &endpoint);
    if (!parsed.ok()) return parsed;
    boost::system::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
      const auto kind = error == asio::error::address_in_use ? Result::Kind::kAddressInUse : Result::Kind::kFailed;
      return Result::Failure(kind, error.value(),
                             "cannot listen on " + address + " for the " + what_ + ": " + error.message());
    }
    port_ = acceptor_.local_endpoint(error).port();
    Accept();
    return Result::Ok();
  }

  uint16_t port() const { return port_; }

 private:
  void Accept() {
    // Each connection on a strand of its own: its handlers run one at a
    // time, on whichever I/O thread is free.
    acceptor_.async_accept(asio::make_strand(acceptor_.get_executor()),
                           [this](boost::system::error_code error, tcp::socket socket) {
                             if (error == asio::error::operation_aborted) return;
                             if (error) return RetryAccept(error);
                             if (!acceptFailure_.empty()) Print("palisard-service: accepting connections again\n");
                             acceptFailure_.clear();
                             Admit(std::move(socket));
                             Accept();
                           });
  }

  // Out of descriptors or buffers, say: one line, and another try soon.
  void RetryAccept(const boost::system::error_code& error) {
    if (acceptFailure_ != error.message())
      Print("palisard-service: cannot accept connections: %s\n", error.message().c_str());
    acceptFailure_ = error.message();
    retry_.expires_after(std::chrono::milliseconds(100));
    retry_.async_wait([this](boost::system::error_code waited) {
      if (!waited) Accept();
    });
  }

  void Admit(tcp::socket socket) {
    boost::system::error_code error;
    const tcp::endpoint peer = socket.remote_endpoint(error);
    if (error) return;
    std::string address = peer.address().to_string();
    const bool proxy = IsTrustedProxy(context_.settings.trustedProxies, address);
    std::string source = CapSource(address);
    std::string network = CapNetwork(address);
    const ConnectionCaps::Place place = context_.caps.Admit(source, network, !proxy);
    if (place == ConnectionCaps::Place::kRefused) return;  // the socket closes here
    std::make_shared<HttpSession>(std::move(socket), std::move(address), std::move(source), std::move(network), proxy,
                                  place, context_)
        ->Start();
  }

  const std::string what_;
  SessionContext& context_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::string acceptFailure_;  // the last accept error told, until accepts work again
  uint16_t port_ = 0;
};

// Threads that read, parse and write the connections: one a core, up to a
// few (the store workers do the waiting).
std::size_t IoThreads() { return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4); }

// The moderation pages serve a few people: two store workers of their own,
// so that sign-ins (a password hash each) never hold up the contract's, and
// one more for the sign-ins, so that they never hold up a signed-in
// moderator's pages.
constexpr std::size_t kModerationWorkers = 2;
constexpr std::size_t kSignInWorkers = 1;
// Sign-ins waiting or running at once; more are answered "busy" at once,
// before any password is checked.
constexpr std::size_t kSignInsAtOnce = 8;
// All of them may come through one proxy on loopback; one source or
// network holds a small part, and a quarter is kept for connections that
// bring a session.
constexpr ConnectionCaps::Limits kModerationCaps{16, 32, 256, 64};
// How often what hosts' ban requests named is written, and old records
// pruned (and refusals folded into the audit).
constexpr std::chrono::seconds kSightingsEvery{2};
constexpr std::chrono::minutes kPruneEvery{5};

UnixTime WallTimeNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

struct PublicServer::Parts {
  Parts(const ServeSettings& given, const StoreWorkers::Opener& openStore)
      : settings(given),
        publicCaps({given.connectionsPerAddress, given.maxConnections, given.maxConnections}),
        moderationCaps(kModerationCaps),
        publicContext{settings, workers, publicCaps,
                      [this](const HttpRequest& request) { return Route(request, settings, sightings); }, StoreFault()},
        moderationContext{settings,
                          moderationWorkers,
                          moderationCaps,
                          [this](const HttpRequest& request) { return RouteModeration(request, settings); },
                          HtmlPage(503, "<!DOCTYPE html>\n<p>The database cannot answer now; try again.</p>\n"),
                          CarriesSession,
                          &signInWorkers,
                          kSignInsAtOnce,
                          HtmlPage(503, "<!DOCTYPE html>\n<p>The moderation pages are busy; try again in a moment.</p>\n")},
        workers(std::max<std::size_t>(1, given.storeWorkers), openStore),
        moderationWorkers(kModerationWorkers, openStore),
        signInWorkers(kSignInWorkers, openStore) {}

  // A handler that throws (out of memory) ends its own work, not the
  // server's.
  void Run() {
    for (;;) {
      try {
        io.run();
        return;
      } catch (const std::exception& failure) {
        Print("palisard-service: a connection failed: %s\n", failure.what());
      }
    }
  }

  ~Parts() {
    io.stop();
    for (std::thread& thread : threads) thread.join();
  }

  // Writes what hosts' ban requests named, and now and then forgets what
  // is older than the rules need, on a store worker.
  void KeepSightings() {
    sightingTimer.expires_after(kSightingsEvery);
    sightingTimer.async_wait([this](boost::system::error_code error) {
      if (error) return;
      const auto due = std::chrono::steady_clock::now() + settings.storeDeadline;
      std::vector<Sighting> batch = sightings.Take();
      if (!batch.empty()) {
        workers.Post(due, [batch = std::move(batch)](Store* store) {
          return store ? store->RecordSightings(batch) : Result::Ok();
        });
      }
      if (std::chrono::steady_clock::now() >= nextPrune) {
        nextPrune = std::chrono::steady_clock::now() + kPruneEvery;
        const UnixTime failuresKept = std::max(settings.signInLimits.window, settings.signInLimits.strangerWindow);
        workers.Post(due, [failuresKept](Store* store) {
          const UnixTime now = WallTimeNow();
          const UnixTime kept = std::chrono::duration_cast<std::chrono::seconds>(kSightingsKept).count();
          return store ? store->Prune(now - kept, now - failuresKept, now) : Result::Ok();
        });
      }
      KeepSightings();
    });
  }

  // Destroyed from the bottom up, after the I/O threads stopped: the store
  // workers finish (their late answers go to a stopped context), then the
  // I/O context, whose sessions give their places back to the caps of the
  // contexts above it.
  const ServeSettings settings;
  ConnectionCaps publicCaps;
  ConnectionCaps moderationCaps;
  SightingLog sightings;
  SessionContext publicContext;
  SessionContext moderationContext;
  const std::size_t ioThreads = IoThreads();
  asio::io_context io{static_cast<int>(ioThreads)};
  Listener publicPort{io, "public port", publicContext};
  Listener moderationPort{io, "moderation pages", moderationContext};
  asio::steady_timer sightingTimer{io};
  std::chrono::steady_clock::time_point nextPrune;
  StoreWorkers workers;
  StoreWorkers moderationWorkers;
  StoreWorkers signInWorkers;
  std::vector<std::thread> threads;
};

PublicServer::PublicServer(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

PublicServer::~PublicServer() = default;

uint16_t PublicServer::port() const { return parts_->publicPort.port(); }

uint16_t PublicServer::moderationPort() const { return parts_->moderationPort.port(); }

Result PublicServer::Start(const ServeSettings& settings, StoreWorkers::Opener openStore,
                           std::unique_ptr<PublicServer>* server) {
  auto parts = std::make_unique<Parts>(settings, openStore);
  Result listening = parts->publicPort.Listen(settings.listen);
  if (listening.ok()) listening = parts->moderationPort.Listen(settings.moderationListen);
  if (!listening.ok()) return listening;
  parts->KeepSightings();
  for (std::size_t i = 0; i < parts->ioThreads; ++i)
    parts->threads.emplace_back([serving = parts.get()] { serving->Run(); });
  server->reset(new PublicServer(std::move(parts)));
  return Result::Ok();
}

Result Serve(const ServeSettings& given) {
  ServeSettings settings = given;
  settings.maxConnections = ConnectionsWithinFileLimit(settings.maxConnections);
  // Waited for from before the port opens: a stop at any point is clean.
  asio::io_context signalContext(1);
  asio::signal_set signals(signalContext, SIGINT, SIGTERM);
  std::unique_ptr<Store> first;
  Result opened = OpenStore(settings.database, &first);
  if (!opened.ok()) {
    return Result::Failure(opened.kind(), opened.code(),
                           "cannot open the database " + ShownDatabase(settings.database) + ": " + opened.text());
  }
  first.reset();
  std::unique_ptr<PublicServer> server;
  const std::string database = settings.database;
  Result started = PublicServer::Start(
      settings, [database](std::unique_ptr<Store>* store) { return OpenStore(database, store); }, &server);
  if (!started.ok()) return started;
  Print("palisard-service: serving the ban contract on %s with the database %s and %zu store workers\n",
        settings.listen.c_str(), ShownDatabase(settings.database).c_str(),
        std::max<std::size_t>(1, settings.storeWorkers));
  Print("palisard-service: moderation pages on %s\n", settings.moderationListen.c_str());
  int received = 0;
  signals.async_wait([&received](const boost::system::error_code&, int number) { received = number; });
  signalContext.run();
  Print("palisard-service: stopping on signal %d\n", received);
  return Result::Ok();
}

}  // namespace palisard
