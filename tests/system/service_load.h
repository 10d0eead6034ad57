#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "helpers/network_namespace.h"

namespace palisard {

// A player's report as his copy posts it, closing the connection after.
std::string ReportRequest(uint64_t reporter, uint64_t reported);

// One exchange of the load, as the player's copy that made it saw it.
struct LoadExchange {
  bool report = false;    // AddInfraction; GetBanList otherwise
  uint64_t reporter = 0;  // a report's reporter id, new for each
  std::chrono::steady_clock::time_point start, end;
  int status = 0;  // the HTTP status; 0 when nothing came within the players' 5 s
  bool answered() const { return status == 200; }
};

// Hosts' ban requests and players' reports (one in three), a few clients
// at a time, each exchange from a source network of its own (10.X.Y.1, so
// that the report limits never refuse one), sent to 127.0.0.1:PORT in
// `machine`, which needs `ip route add local 10.0.0.0/8 dev lo`. Every
// exchange is kept.
class ServiceLoad {
 public:
  explicit ServiceLoad(const NetworkNamespace& machine) : machine_(machine) {}
  ~ServiceLoad() { Stop(); }

  void Start(uint16_t port, int clients = 6);
  // Returns once the clients' exchanges under way have ended.
  void Stop();
  // One exchange, from the calling thread (inside the machine).
  LoadExchange Exchange(uint16_t port, bool report);

  // The exchanges that began within [from, to).
  std::vector<LoadExchange> Between(std::chrono::steady_clock::time_point from,
                                    std::chrono::steady_clock::time_point to) const;
  // Reports answered by the service, by reporter id.
  std::set<uint64_t> Acknowledged() const;

 private:
  const NetworkNamespace& machine_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> made_{0};
  std::vector<std::thread> clients_;
  mutable std::mutex mutex_;
  std::vector<LoadExchange> exchanges_;
};

}  // namespace palisard
