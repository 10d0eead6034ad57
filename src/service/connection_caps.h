#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "common/mutex.h"

namespace palisard {

// The public port's caps on open connections: in all, and from one source.
// Thread-safe: connections end on any of the I/O threads.
class ConnectionCaps {
 public:
  ConnectionCaps(std::size_t perSource, std::size_t total) : perSource_(perSource), total_(total) {}

  // Takes a place for a connection from `source`; false when a cap is
  // reached. Without `perSourceCap` (a trusted load balancer, which speaks
  // for many clients) only the cap on all connections applies.
  bool Admit(const std::string& source, bool perSourceCap = true);
  // Gives back a place Admit took.
  void Release(const std::string& source);

 private:
  const std::size_t perSource_;
  const std::size_t total_;
  Mutex mutex_;
  std::size_t open_ GUARDED_BY(mutex_) = 0;
  std::unordered_map<std::string, std::size_t> bySource_ GUARDED_BY(mutex_);
};

// The source a peer's connections count against: an IPv4 address (also one
// mapped into IPv6) as itself; an IPv6 address by its /64, since one host
// may use every address of it.
std::string CapSource(const std::string& address);

}  // namespace palisard
