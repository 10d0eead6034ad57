#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mutex.h"

namespace palisard {

// A listener's caps on open connections: from one source, from one
// network, and in all, of which a share may be kept for connections that
// bring something strangers do not (a moderator's session). Thread-safe:
// connections end on any of the I/O threads.
class ConnectionCaps {
 public:
  struct Limits {
    std::size_t perSource;
    std::size_t perNetwork;
    std::size_t total;
    std::size_t reserved = 0;  // of `total`, kept
  };
  // Where a connection was let in: not at all, with everyone, or into the
  // kept share (whose connections must prove themselves on their request).
  enum class Place { kRefused, kShared, kKept };

  explicit ConnectionCaps(Limits limits) : limits_(limits) {}

  // Takes a place for a connection from `source` in `network`. Without
  // `perSourceCap` (a trusted load balancer, which speaks for many clients)
  // only the caps on all connections apply.
  Place Admit(const std::string& source, const std::string& network, bool perSourceCap = true);
  // Gives back a place Admit took.
  void Release(const std::string& source, const std::string& network, Place place);

 private:
  // Counts one more from `key` when below `cap`.
  static bool Take(std::unordered_map<std::string, std::size_t>& counts, const std::string& key, std::size_t cap);
  static void Give(std::unordered_map<std::string, std::size_t>& counts, const std::string& key);

  const Limits limits_;
  Mutex mutex_;
  std::size_t shared_ GUARDED_BY(mutex_) = 0;
  std::size_t kept_ GUARDED_BY(mutex_) = 0;
  std::unordered_map<std::string, std::size_t> bySource_ GUARDED_BY(mutex_);
  std::unordered_map<std::string, std::size_t> byNetwork_ GUARDED_BY(mutex_);
};

// The source a peer's connections count against: an IPv4 address (also one
// mapped into IPv6) as itself; an IPv6 address by its /64, since one host
// may use every address of it.
std::string CapSource(const std::string& address);
// And the network: an IPv4 /24, an IPv6 /48 (what one site is given).
std::string CapNetwork(const std::string& address);

// The client a trusted load balancer names: the last entry of the last
// X-Forwarded-For field (a balancer appends the address it saw; the entries
// before it are what the client itself claimed), or `peer` when that is no
// address.
std::string ForwardedClient(const std::vector<std::string>& fields, const std::string& peer);

// Whether `peer` is one of the load balancers `proxies` names (numeric
// addresses), also as an IPv4 address mapped into IPv6 on a dual-stack
// listener.
bool IsTrustedProxy(const std::vector<std::string>& proxies, const std::string& peer);

}  // namespace palisard
