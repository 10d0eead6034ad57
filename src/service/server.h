#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "common/clock.h"
#include "common/result.h"
#include "service/http/store_workers.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// palisard-service's public port: the ban contract, its WSDL, the version
// file and the players' public pages over HTTP/1.1; and beside it, on an
// address of their own, the moderation pages. A few I/O threads (one a
// core) serve every connection of both (thousands of idle or slow ones cost
// no thread); DatabaseConnections(settings) store workers make the store
// calls of both, the moderation pages' on kModerationStoreWorkers of them at
// most. Holds no state another instance needs.
class PublicServer {
 public:
  // Listens on settings.listen and settings.moderationListen ("ADDR:PORT",
  // "[ADDR]:PORT"; port 0 takes a free one) and starts the threads; each
  // store worker opens its own store with `openStore`. Every time the
  // server keeps (deadlines, pauses, the store calls' `now`) is on `clock`,
  // which outlives it.
  static Result Start(const ServeSettings& settings, StoreWorkers::Opener openStore, const Clock& clock,
                      std::unique_ptr<PublicServer>* server);
  // Stops: every connection closed, waiting store calls dropped, threads
  // joined.
  ~PublicServer();

  // Stops accepting and closes the connections that wait for a request;
  // the others are answered, each answer closing its connection. Call from
  // outside the I/O threads.
  void Stop();
  // After Stop: true once every connection has ended.
  bool Stopped() const;
  // True once no store call runs, false when one still did after `limit`.
  bool StoreCallsEnded(std::chrono::milliseconds limit);

  uint16_t port() const;
  uint16_t moderationPort() const;

 private:
  struct Parts;
  explicit PublicServer(std::unique_ptr<Parts> parts);
  std::unique_ptr<Parts> parts_;
};

// What `palisard-service serve` runs: opens the store once (creating or
// migrating its schema), then serves until SIGINT or SIGTERM, and then
// answers the requests it has begun to read before it returns. A second
// signal, or a store call the database never answers, ends the process
// there (std::_Exit). A failure to start is returned, for the caller to
// tell, and not printed; a PostgreSQL server that cannot be reached yet is
// none: it is tried until it answers. Writes a few lines to standard output
// when it starts and stops, and for failures, none per request.
Result Serve(const ServeSettings& settings);

}  // namespace palisard
