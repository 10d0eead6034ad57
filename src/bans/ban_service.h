#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace palisard {

// Client of the SOAP ban service. Shared by the watcher, web and start-up
// threads: the host name is guarded by its own lock, the streaming flag is
// atomic.
class BanService {
 public:
  virtual ~BanService() = default;

  // Streaming on: while hosting, ask about present players and block the
  // banned ones.
  std::atomic<bool> streaming{false};

  void SetHost(const std::string& host);
  std::string GetHost() const;

 private:
  mutable std::mutex mutex_;
  std::string host_;
};

}  // namespace palisard
