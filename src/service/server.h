#pragma once

#include <cstdint>
#include <memory>

#include "common/result.h"
#include "service/serve_settings.h"
#include "service/store_workers.h"

namespace palisard {

// palisard-service's public port: the ban contract, its WSDL, the version
// file and the players' public pages over HTTP/1.1; and beside it, on an
// address of their own, the moderation pages. A few I/O threads (one a
// core) serve every connection of both (thousands of idle or slow ones cost
// no thread);
// settings.storeWorkers threads make the public port's store calls, two
// more the moderation pages'. Holds no state another instance needs.
class PublicServer {
 public:
  // Listens on settings.listen and settings.moderationListen ("ADDR:PORT",
  // "[ADDR]:PORT"; port 0 takes a free one) and starts the threads; each
  // store worker opens its own store with `openStore`.
  static Result Start(const ServeSettings& settings, StoreWorkers::Opener openStore,
                      std::unique_ptr<PublicServer>* server);
  // Stops: every connection closed, waiting store calls dropped, threads
  // joined.
  ~PublicServer();

  uint16_t port() const;
  uint16_t moderationPort() const;

 private:
  struct Parts;
  explicit PublicServer(std::unique_ptr<Parts> parts);
  std::unique_ptr<Parts> parts_;
};

// What `palisard-service serve` runs: opens the store once (creating or
// migrating its schema), then serves until SIGINT or SIGTERM. A failure to
// start is returned, for the caller to tell, and not printed. Writes one
// line to standard output when it starts and one for each failure after,
// none per request.
Result Serve(const ServeSettings& settings);

}  // namespace palisard
