#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bans/soap_messages.h"
#include "common/clock.h"
#include "common/console_output.h"
#include "net/socket.h"
#include "common/stopwatch.h"
#include "net/http_client.h"

namespace palisard {

// One cache entry: a player's last answer from the service.
struct BanStatus {
  uint64_t communityId = 0;
  uint32_t banScore = 0;
  bool isBanned = false;
  Stopwatch timer;  // since the entry was made or last refreshed
};

// The client of the SOAP ban service: reports players and, while hosting,
// asks about the present ones (ban streaming), keeping their answers in a
// cache. Used from the web threads (reports) and the watcher (ban lists):
// the host, the server address and the cache are guarded by one lock that
// is never held across network I/O.
class BanService {
 public:
  struct Options {
    uint16_t port = 80;
    HttpClientLimits limits;
    // After a failed ban-list exchange, the next waits this long.
    std::chrono::milliseconds retryAfterFailure{10'000};
  };

  BanService(const Clock& clock, Options options, ConsoleSink& console = StandardOutput());
  virtual ~BanService() = default;

  // Streaming on: while hosting, ask about present players and block the
  // banned ones.
  std::atomic<bool> streaming{true};

  // The host is kept masked with a per-object key, never in clear.
  void SetHost(const std::string& host);
  std::string GetHost() const;

  // Resolves the host and finds an address that accepts a connection.
  virtual bool FindServer();
  // Reports `reportedId` in the name of `reporterId`; true when the service
  // answered with a result, which goes to `result`.
  virtual bool AddInfraction(uint64_t reporterId, uint64_t reportedId, bool* result);
  // Asks about the ids that need asking (see ShouldQuery), when at least
  // `minimumToSend` of them do; the answers go to the cache.
  virtual void GetBanList(std::vector<uint64_t> ids, std::size_t minimumToSend);

  bool ShouldQuery(uint64_t communityId) const;
  void UpdateBanStatus(BanStatus record);
  // What the cache says of the id (stale or not); nothing when unknown.
  std::optional<bool> IsBanned(uint64_t communityId) const;

 private:
  bool ShouldQueryLocked(uint64_t communityId) const;
  // One SOAP exchange: the answer's body, or nothing when it gave up.
  std::optional<std::string> SoapCall(const std::string& document, const char* action);

  const Clock& clock_;
  Options options_;
  ConsoleSink& console_;
  const uint8_t hostKey_;

  mutable std::mutex mutex_;
  std::string host_;  // masked
  Ipv4Endpoint serverAddress_;
  std::vector<BanStatus> banStatuses_;
  std::optional<int64_t> retryAfterMs_;
};

// Each byte XOR `key`; applying it twice gives the text back.
std::string MaskText(const std::string& text, uint8_t key);

}  // namespace palisard
