#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/thread_cache.h"
#include "net/connection_slots.h"
#include "net/listener.h"
#include "net/socket.h"

namespace palisard {

// The accept loop of both ports: each accepted connection is served on a
// thread of its own while it holds a connection slot; a connection beyond
// the caps, or one no thread could be started for, is closed at once.
//
// Thread-safe: Run on one thread, RequestStop and slots from any.
class AcceptLoop {
 public:
  struct Limits {
    std::size_t maxConnections = 1024;
    std::size_t maxPerAddress = 1024;
  };
  // Serves one connection from `peerAddress` (host order) on its thread.
  using Handler = std::function<void(Socket client, uint32_t peerAddress)>;
  // True: accept now. False: it waited (at most `maxWait`) for a change
  // that may open it. While it says no, connections wait in the listen
  // queue.
  using Gate = std::function<bool(std::chrono::milliseconds maxWait)>;

  AcceptLoop(Limits limits, Handler handler, Gate mayAccept = {});

  // Returns 1 when `listener` is not listening; otherwise runs until
  // RequestStop and one more connection.
  int Run(const Listener& listener);
  void RequestStop() { stopping_ = true; }

  const ConnectionSlots& slots() const { return slots_; }

 private:
  void Serve(Socket client, uint32_t peerAddress);

  Handler handler_;
  Gate mayAccept_;
  ConnectionSlots slots_;
  std::atomic<bool> stopping_{false};
  ThreadCache threads_;  // last: its threads use the members above
};

}  // namespace palisard
