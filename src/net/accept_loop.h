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
// Optionally the peers are sorted into two pools with caps of their own, so
// that the peers of the second cannot take the first's slots.
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
  // True when the peer (host order) belongs to the first pool.
  using Classifier = std::function<bool(uint32_t peerAddress)>;
  struct SecondPool {
    Classifier inFirstPool;  // empty: one pool for every peer
    Limits limits;
  };
  // Starts `task` on a thread of its own; false (the task not run) when no
  // thread could be started.
  using ThreadStart = std::function<bool(std::function<void()> task)>;

  AcceptLoop(Limits limits, Handler handler, Gate mayAccept = {});
  // `startThread` empty: the loop's own thread cache.
  AcceptLoop(Limits limits, Handler handler, Gate mayAccept, SecondPool second, ThreadStart startThread = {});

  // Fails (kUnavailable) at once when `listener` is not listening;
  // otherwise runs until RequestStop and one more connection.
  Result Run(const Listener& listener);
  void RequestStop() { stopping_ = true; }

  const ConnectionSlots& slots() const { return slots_; }
  const ConnectionSlots& secondSlots() const { return secondSlots_; }

 private:
  void Serve(Socket client, uint32_t peerAddress);

  Handler handler_;
  Gate mayAccept_;
  Classifier inFirstPool_;
  ThreadStart startThread_;
  ConnectionSlots slots_;
  ConnectionSlots secondSlots_;
  std::atomic<bool> stopping_{false};
  ThreadCache threads_;  // last: its threads use the members above
};

}  // namespace palisard
