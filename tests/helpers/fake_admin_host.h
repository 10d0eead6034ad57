#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "net/socket.h"

namespace palisard {

// A scripted stand-in for a hosting copy's admin port: reads one message per
// connection and sends whatever `answer` returns for its type and payload
// (nothing: the connection is closed at once).
class FakeAdminHost {
 public:
  using Answer = std::function<std::vector<uint8_t>(uint16_t type, const std::vector<uint8_t>& payload)>;

  FakeAdminHost(Ipv4Endpoint where, Answer answer);
  ~FakeAdminHost();

  bool listening() const { return listener_.valid(); }
  // The types of the messages received so far.
  std::vector<uint16_t> received() const;

 private:
  void Serve();

  Ipv4Endpoint where_;
  Answer answer_;
  Socket listener_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<uint16_t> received_;
  std::thread thread_;
};

}  // namespace palisard
