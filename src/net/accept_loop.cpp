#include "net/accept_loop.h"

#include <thread>
#include <utility>

namespace palisard {
namespace {

// Out of descriptors, say: wait a moment rather than spin.
constexpr auto kPauseAfterFailedAccept = std::chrono::milliseconds(1);
// How long a closed gate waits for a change before the loop looks whether
// it was asked to stop.
constexpr auto kGateWait = std::chrono::milliseconds(1000);
// A finished connection thread waits this long for the next connection.
constexpr auto kThreadIdleLifetime = std::chrono::seconds(2);

}  // namespace

AcceptLoop::AcceptLoop(Limits limits, Handler handler, Gate mayAccept)
    : AcceptLoop(limits, std::move(handler), std::move(mayAccept), SecondPool{}) {}

AcceptLoop::AcceptLoop(Limits limits, Handler handler, Gate mayAccept, SecondPool second, ThreadStart startThread)
    : handler_(std::move(handler)),
      mayAccept_(std::move(mayAccept)),
      inFirstPool_(std::move(second.inFirstPool)),
      startThread_(std::move(startThread)),
      slots_(limits.maxConnections, limits.maxPerAddress),
      secondSlots_(second.limits.maxConnections, second.limits.maxPerAddress),
      threads_(kThreadIdleLifetime) {
  if (!startThread_) startThread_ = [this](std::function<void()> task) { return threads_.Run(std::move(task)); };
}

Result AcceptLoop::Run(const Listener& listener) {
  if (!listener.listening()) return Result::Failure(Result::Kind::kUnavailable, 0, "not listening");
  while (!stopping_) {
    while (mayAccept_ && !stopping_ && !mayAccept_(kGateWait)) {
    }
    Ipv4Endpoint peer;
    Socket client;
    const Result accepted = AcceptConnection(listener.socket(), &client, &peer);
    if (stopping_) break;
    if (!accepted.ok()) {
      std::this_thread::sleep_for(kPauseAfterFailedAccept);
      continue;
    }
    Serve(std::move(client), peer.address);
  }
  return Result::Ok();
}

void AcceptLoop::Serve(Socket client, uint32_t peerAddress) {
  ConnectionSlots* pool = !inFirstPool_ || inFirstPool_(peerAddress) ? &slots_ : &secondSlots_;
  if (!pool->TryAcquire(peerAddress)) return;
  const SocketHandle socket = client.release();
  bool started = startThread_([this, pool, peerAddress, socket] {
    handler_(Socket(socket), peerAddress);
    pool->Release(peerAddress);
  });
  if (!started) {
    Socket unserved(socket);
    pool->Release(peerAddress);
  }
}

}  // namespace palisard
