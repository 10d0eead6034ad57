#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/feed/feed_lines.h"
#include "store/store.h"

namespace palisard {

// GetBanList's BanScore counts the distinct source networks that reported a
// player within this window.
inline constexpr std::chrono::seconds kScoreWindow = std::chrono::hours(24 * 30);
// What hosts' ban requests named is kept this long.
inline constexpr std::chrono::seconds kSightingsKept = std::chrono::hours(24 * 30);

// Everything `palisard-service serve` runs with: the command line and the
// settings file fill it, the server reads it.
struct ServeSettings {
  std::string listen = "0.0.0.0:80";  // ADDR:PORT of the public port
  // ADDR:PORT of the moderation pages, never served on the public port; a
  // community puts its TLS proxy in front.
  std::string moderationListen = "127.0.0.1:8080";
  // The names (a request's Host, port aside) the moderation pages answer
  // to; none: the moderationListen address and "localhost". A proxy in
  // front passes its own public name.
  std::vector<std::string> moderationHosts;
  std::string database = "palisard-service.db";  // an SQLite path or a PostgreSQL URL
  // The version file: the newest release and where to get it.
  std::string latestVersion;
  std::string downloadUrl;
  ReportLimits reportLimits;
  AppealLimits appealLimits;
  SignInLimits signInLimits;
  // Bad clients cannot stall the port: deadlines for a request's header and
  // body, connections one source address may hold, and all connections.
  std::chrono::seconds headerDeadline{10};
  std::chrono::seconds bodyDeadline{10};
  std::size_t connectionsPerAddress = 64;
  std::size_t maxConnections = 20000;
  // Load balancers in front of this instance (numeric addresses): behind
  // one, every client would share its address, its report limits and its
  // connection cap. A connection from one counts as the client that its
  // X-Forwarded-For names last, and is not capped per address.
  std::vector<std::string> trustedProxies;
  // Threads that talk to the database for the players (each with its own
  // connection); see DatabaseConnections.
  std::size_t storeWorkers = 4;
  // A request whose store call has not answered by then gets a SOAP fault:
  // a database that hangs never holds a client. The players' copies give
  // up 5 s after they begin sending, so the fault must reach them before,
  // with room for the network and a load balancer.
  std::chrono::seconds storeDeadline{3};
  // Webhooks: receivers on loopback or private networks are refused unless
  // allowed (a community's own receiver; the tests); PEM certificates
  // trusted besides the system's for https receivers; the base of the
  // public player pages that chat messages link to (empty: PublicUrl's
  // default).
  bool webhookAllowPrivate = false;
  std::string webhookCaFile;
  std::string publicUrl;
  // The shared feed: the file of its signing key (empty: no feed is
  // served) and how much of a ban's reason it publishes.
  std::string feedKey;
  FeedReasons feedReasons = FeedReasons::kFirstLine;
};

// The public pages' base URL, without a trailing '/': settings.publicUrl,
// or else http:// and the public port's address, the unspecified address
// (0.0.0.0, [::]) taken as `hostName` and port 80 left out.
std::string PublicUrl(const ServeSettings& settings, const std::string& hostName);

// The moderation pages' store calls run on at most this many store workers
// at once (sign-ins hash a password each), and the instance has this many
// more workers for them, so that they never hold up the players' calls.
inline constexpr std::size_t kModerationStoreWorkers = 2;

// The database connections one instance holds: one a store worker. The
// settings file and the manual size PostgreSQL's max_connections by it.
inline std::size_t DatabaseConnections(const ServeSettings& settings) {
  return settings.storeWorkers + kModerationStoreWorkers;
}

}  // namespace palisard
