#include "net/listener.h"

#include <atomic>

#include "common/console_output.h"

namespace palisard {
namespace {

// The socket library is started once per process, by whichever listener is
// initialised first.
std::atomic<bool> networkingStarted{false};

constexpr uint32_t kLoopback = 0x7F000001;

}  // namespace

int Listener::Initialize(uint16_t requestedPort, ConsoleSink& console, Reach reach) {
  const bool startsNetworking = !networkingStarted;
  if (startsNetworking) {
    const SocketResult started = StartNetworking();
    if (!started.ok()) {
      console.Print("Problem initializing WinSock: %i\n", started.error());
      return started.error();
    }
    networkingStarted = true;
  }

  port_ = requestedPort;
  int error = 0;
  socket_.reset(OpenTcpSocket());
  if (!socket_.valid()) {
    error = LastSocketError();
    console.Print("Problem opening socket: %i\n", error);
  } else if (SocketResult bound = BindAddress(socket_.get(), {reach == Reach::kLoopbackOnly ? kLoopback : 0u, port_});
             !bound.ok()) {
    error = bound.error();
    console.Print("Problem binding socket ( port %i ): %i\n", port_, error);
  } else if (SocketResult listening = ListenForConnections(socket_.get()); !listening.ok()) {
    error = listening.error();
    console.Print("Problem listening on socket: %i\n", error);
  } else {
    console.Print("Initialized server ( port %i )..\n", port_);
    return 0;
  }

  socket_.reset();
  // Undo only a start made by this call: the other listener's socket may
  // still need the library.
  if (startsNetworking) {
    StopNetworking();
    networkingStarted = false;
  }
  return error;
}

}  // namespace palisard
