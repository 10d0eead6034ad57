#include "service/server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "common/console_output.h"
#include "common/mutex.h"
#include "service/api/api_routes.h"
#include "service/contract/contract.h"
#include "service/contract/sighting_log.h"
#include "service/http/connection_caps.h"
#include "service/http/error_answers.h"
#include "service/http/http_session.h"
#include "service/moderation/routes.h"
#include "service/outbound/delivery_worker.h"
#include "service/public_port.h"
#include "service/values/source_network.h"
#include "store/database_url.h"

namespace palisard {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// "ADDR:PORT" or "[ADDR]:PORT".
Result ParseListen(const std::string& text, tcp::endpoint* endpoint) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return Result::Invalid("not ADDR:PORT: " + text);
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = text.substr(colon + 1);
  uint16_t number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  boost::system::error_code bad;
  const asio::ip::address address = asio::ip::make_address(host, bad);
  if (error != std::errc() || end != port.data() + port.size() || bad) return Result::Invalid("not ADDR:PORT: " + text);
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
      : what_(what), context_(context), io_(io), strand_(asio::make_strand(io)), acceptor_(strand_), retry_(strand_) {}

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

  // Stops accepting: new connections are refused, and those not yet taken
  // are reset. Returns once the listener admits no more. Call from outside
  // the I/O threads.
  void Close() {
    std::promise<void> closed;
    asio::post(strand_, [this, &closed] {
      boost::system::error_code ignored;
      acceptor_.close(ignored);
      retry_.cancel();
      closed.set_value();
    });
    closed.get_future().wait();
  }

 private:
  void Accept() {
    // Each connection on a strand of its own: its handlers run one at a
    // time, on whichever I/O thread is free.
    acceptor_.async_accept(asio::make_strand(io_), [this](boost::system::error_code error, tcp::socket socket) {
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
  asio::io_context& io_;
  // The acceptor's handlers and Close take turns on it.
  asio::strand<asio::io_context::executor_type> strand_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::string acceptFailure_;  // the last accept error told, until accepts work again
  uint16_t port_ = 0;
};

// Threads that read, parse and write the connections: one a core, up to a
// few (the store workers do the waiting).
std::size_t IoThreads() { return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4); }

// The store workers' lanes: the public port's calls, the moderation pages',
// which run on kModerationStoreWorkers of them at most, and the sign-ins,
// one at a time (each hashes a password), so that they never hold up a
// signed-in moderator's pages.
constexpr std::size_t kPublicLane = 0;
constexpr std::size_t kModerationLane = 1;
constexpr std::size_t kSignInLane = 2;
constexpr std::size_t kSignInsRunning = 1;
// Webhook deliveries' claims and records, one at a time: however many are
// due, the players' calls keep the other workers.
constexpr std::size_t kDeliveryLane = 3;
constexpr std::size_t kDeliveryCallsRunning = 1;
constexpr std::chrono::seconds kDeliveryStoreDeadline{10};
// Sign-ins waiting or running at once; more are answered "busy" at once,
// before any password is checked.
constexpr std::size_t kSignInsAtOnce = 8;
// The moderators may all come through one proxy on loopback; one source or
// network holds a small part, and a quarter is kept for connections that
// bring a session.
constexpr ConnectionCaps::Limits kModerationCaps{16, 32, 256, 64};
// How often what hosts' ban requests named is written, and old records
// pruned (and refusals folded into the audit).
constexpr std::chrono::seconds kSightingsEvery{2};
constexpr std::chrono::minutes kPruneEvery{5};

// Opens the store workers' stores, the first of them being `first` (when
// there is one), so that the instance never holds a connection more than it
// says.
StoreWorkers::Opener WorkersOpener(const std::string& database, std::unique_ptr<Store> first) {
  struct Spare {
    Mutex mutex;
    std::unique_ptr<Store> store GUARDED_BY(mutex);
  };
  auto spare = std::make_shared<Spare>();
  {
    MutexLock lock(spare->mutex);
    spare->store = std::move(first);
  }
  return [database, spare](std::unique_ptr<Store>* store) {
    {
      MutexLock lock(spare->mutex);
      if (spare->store) {
        *store = std::move(spare->store);
        return Result::Ok();
      }
    }
    return OpenStore(database, store);
  };
}

// The delivery worker's store calls, on the store workers' delivery lane.
class StoreDesk final : public DeliveryDesk {
 public:
  StoreDesk(StoreWorkers& workers, const Clock& clock) : workers_(workers), clock_(clock) {}

  Result Claim(UnixTime now, UnixTime lease, std::size_t limit, std::vector<Delivery>* deliveries) override {
    return Run([&](Store& store) { return store.ClaimDeliveries(now, lease, limit, kAttemptsPerEndpoint, deliveries); });
  }
  Result Finish(const Delivery& delivery, const DeliveryOutcome& outcome, UnixTime now) override {
    return Run(
        [&](Store& store) { return store.FinishDelivery(delivery.event.row, delivery.endpoint.id, outcome, now); });
  }

 private:
  // Waits for the call's answer: the workers run it or say it went
  // unanswered, while they live (the worker stops before them).
  Result Run(const std::function<Result(Store&)>& call) {
    auto answer = std::make_shared<std::promise<Result>>();
    workers_.Post(kDeliveryLane, Deadline(clock_, kDeliveryStoreDeadline),
                  {[&call, answer](Store& store) {
                     Result result = call(store);
                     answer->set_value(result);
                     return result;
                   },
                   [answer] { answer->set_value(Result::Unavailable("no database connection")); }});
    return answer->get_future().get();
  }

  StoreWorkers& workers_;
  const Clock& clock_;
};

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof(name) - 1) == 0 && name[0] != '\0' ? name : "localhost";
}

DeliverySettings DeliverySettingsOf(const ServeSettings& settings) {
  DeliverySettings delivery;
  delivery.outbound.allowPrivate = settings.webhookAllowPrivate;
  delivery.outbound.extraCaFile = settings.webhookCaFile;
  delivery.publicUrl = PublicUrl(settings, HostName());
  return delivery;
}

}  // namespace

struct PublicServer::Parts {
  Parts(const ServeSettings& given, const StoreWorkers::Opener& openStore, const Clock& givenClock)
      : settings(given),
        clock(givenClock),
        publicCaps({given.connectionsPerAddress, given.maxConnections, given.maxConnections}),
        moderationCaps(kModerationCaps),
        publicContext{settings,
                      clock,
                      StoreWorkers::Lane(workers, kPublicLane),
                      publicCaps,
                      [this](const HttpRequest& request) { return RoutePublic(request, settings, sightings); },
                      StoreFault()},
        moderationContext{settings,
                          clock,
                          StoreWorkers::Lane(workers, kModerationLane),
                          moderationCaps,
                          [this](const HttpRequest& request) { return RouteModerationListener(request); },
                          ErrorAnswer(Refusal::kCannotAnswerNow, Medium::kHtml),
                          CarriesSession,
                          StoreWorkers::Lane(workers, kSignInLane),
                          kSignInsAtOnce,
                          ErrorAnswer(Refusal::kBusy, Medium::kHtml)},
        workers(DatabaseConnections(given),
                {DatabaseConnections(given), kModerationStoreWorkers, kSignInsRunning, kDeliveryCallsRunning},
                openStore, clock) {}

  // The API's paths for bots with tokens, the pages' for browsers.
  Routed RouteModerationListener(const HttpRequest& request) const {
    if (IsApiPath(PathOf(request.target))) return RouteModerationApi(request, tokenLimits);
    return RouteModeration(request, settings);
  }

  // Out of memory in a handler (a request's body, an answer) ends that
  // handler's connection, not the server: run goes on. Nothing else the
  // handlers call throws; anything else is a fault, and ends the process.
  void Run() {
    for (;;) {
      try {
        io.run();
        return;
      } catch (const std::bad_alloc&) {
        Print("palisard-service: a connection ended: out of memory\n");
      }
    }
  }

  void Stop() {
    if (deliveries) deliveries->Stop();
    publicPort.Close();
    moderationPort.Close();
    publicContext.sessions.StopAll();
    moderationContext.sessions.StopAll();
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
      const Deadline due(clock, settings.storeDeadline);
      std::vector<Sighting> batch = sightings.Take();
      if (!batch.empty()) {
        workers.Post(kPublicLane, due,
                     {[batch = std::move(batch)](Store& store) { return store.RecordSightings(batch); }});
      }
      if (clock.NowMs() >= nextPruneMs) {
        nextPruneMs = clock.NowMs() + std::chrono::milliseconds(kPruneEvery).count();
        const UnixTime failuresKept = std::max(settings.signInLimits.window, settings.signInLimits.strangerWindow);
        workers.Post(kPublicLane, due, {[failuresKept, clock = &clock](Store& store) {
                       const UnixTime now = clock->UnixSeconds();
                       const UnixTime kept = std::chrono::duration_cast<std::chrono::seconds>(kSightingsKept).count();
                       return store.Prune(now - kept, now - failuresKept, now);
                     }});
      }
      KeepSightings();
    });
  }

  // Destroyed from the bottom up, after the I/O threads stopped: the store
  // workers finish (their late answers go to a stopped context), then the
  // I/O context, whose sessions give their places back to the caps of the
  // contexts above it.
  const ServeSettings settings;
  const TokenLimits tokenLimits{};
  const Clock& clock;
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
  int64_t nextPruneMs = 0;  // on the clock
  StoreWorkers workers;
  // Stopped and joined before the workers its store calls run on.
  StoreDesk desk{workers, clock};
  std::unique_ptr<DeliveryWorker> deliveries;
  std::vector<std::thread> threads;
};

PublicServer::PublicServer(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

PublicServer::~PublicServer() = default;

uint16_t PublicServer::port() const { return parts_->publicPort.port(); }

uint16_t PublicServer::moderationPort() const { return parts_->moderationPort.port(); }

void PublicServer::Stop() { parts_->Stop(); }

bool PublicServer::Stopped() const {
  return parts_->publicContext.sessions.empty() && parts_->moderationContext.sessions.empty();
}

bool PublicServer::StoreCallsEnded(std::chrono::milliseconds limit) { return parts_->workers.WaitUntilIdle(limit); }

Result PublicServer::Start(const ServeSettings& settings, StoreWorkers::Opener openStore, const Clock& clock,
                           std::unique_ptr<PublicServer>* server) {
  auto parts = std::make_unique<Parts>(settings, openStore, clock);
  Result listening = parts->publicPort.Listen(settings.listen);
  if (listening.ok()) listening = parts->moderationPort.Listen(settings.moderationListen);
  if (!listening.ok()) return listening;
  parts->KeepSightings();
  parts->deliveries =
      std::make_unique<DeliveryWorker>(DeliverySettingsOf(settings), parts->desk, SendOutboundRequest, clock);
  for (std::size_t i = 0; i < parts->ioThreads; ++i)
    parts->threads.emplace_back([serving = parts.get()] { serving->Run(); });
  server->reset(new PublicServer(std::move(parts)));
  return Result::Ok();
}

namespace {

// After a first signal: the requests begun are answered, and the store calls
// under way end, before this returns. A second signal, or a store call that
// the database never answers (it would keep its thread, and the process,
// for good), ends the process here.
void FinishRequests(PublicServer& server, const ServeSettings& settings, asio::io_context& signalContext,
                    asio::signal_set& signals) {
  server.Stop();
  bool again = false;
  signalContext.restart();
  signals.async_wait([&again](const boost::system::error_code& error, int) { again = !error; });
  const Deadline until(SystemClock(), HttpSession::LongestExchange(settings));
  while (!again && !server.Stopped() && !until.Passed()) {
    signalContext.run_for(std::chrono::milliseconds(20));
  }
  if (again) {
    Print("palisard-service: stopped at once on a second signal\n");
    std::_Exit(1);
  }
  if (!server.StoreCallsEnded(settings.storeDeadline)) {
    Print("palisard-service: stopped, with store calls still waiting for the database\n");
    std::_Exit(0);
  }
}

}  // namespace

Result Serve(const ServeSettings& given) {
  ServeSettings settings = given;
  settings.maxConnections = ConnectionsWithinFileLimit(settings.maxConnections);
  // Waited for from before the port opens: a stop at any point is clean.
  asio::io_context signalContext(1);
  asio::signal_set signals(signalContext, SIGINT, SIGTERM);
  // Creates or migrates the schema. A PostgreSQL server that cannot be
  // reached now may be later: the store workers keep trying, and the port
  // answers with faults meanwhile. A database named wrongly is no such case.
  std::unique_ptr<Store> first;
  Result opened = OpenStore(settings.database, &first);
  if (!opened.ok() && (SqlitePath(settings.database) || opened.kind() == Result::Kind::kInvalid)) {
    return Result::Failure(opened.kind(), opened.code(),
                           "cannot open the database " + ShownDatabase(settings.database) + ": " + opened.text());
  }
  std::unique_ptr<PublicServer> server;
  Result started =
      PublicServer::Start(settings, WorkersOpener(settings.database, std::move(first)), SystemClock(), &server);
  if (!started.ok()) return started;
  Print("palisard-service: serving the ban contract on %s with the database %s and %zu database connections\n",
        settings.listen.c_str(), ShownDatabase(settings.database).c_str(), DatabaseConnections(settings));
  Print("palisard-service: moderation pages on %s\n", settings.moderationListen.c_str());
  int received = 0;
  signals.async_wait([&received](const boost::system::error_code&, int number) { received = number; });
  signalContext.run();
  Print("palisard-service: stopping on signal %d: answering the requests under way\n", received);
  FinishRequests(*server, settings, signalContext, signals);
  server.reset();
  Print("palisard-service: stopped\n");
  return Result::Ok();
}

}  // namespace palisard
