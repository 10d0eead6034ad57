#include "net/listener.h"

#include <atomic>

#include "common/console_output.h"
#include "common/ipv4.h"

namespace palisard {
namespace {

// The socket library is started once per process, by whichever listener is
// initialised first.
std::atomic<bool> networkingStarted{false};

}  // namespace

Result Listener::Initialize(uint16_t requestedPort, ConsoleSink& console, Reach reach) {
  const bool startsNetworking = !networkingStarted;
  if (startsNetworking) {
    const Result started = StartNetworking();
    if (!started.ok()) {
      console.Print("Problem initializing WinSock: %i\n", static_cast<int>(started.code()));
      return started;
    }
    networkingStarted = true;
  }

  port_ = requestedPort;
  const uint32_t address = reach == Reach::kLoopbackOnly ? kLoopbackAddress : 0u;
  Result result = OpenTcpSocket(&socket_);
  if (!result.ok()) {
    console.Print("Problem opening socket: %i\n", static_cast<int>(result.code()));
  } else if (result = BindAddress(socket_.get(), {address, port_}); !result.ok()) {
    console.Print("Problem binding socket ( port %i ): %i\n", port_, static_cast<int>(result.code()));
  } else if (result = ListenForConnections(socket_.get()); !result.ok()) {
    console.Print("Problem listening on socket: %i\n", static_cast<int>(result.code()));
  } else {
    console.Print("Initialized server ( port %i )..\n", port_);
    return result;
  }

  socket_.reset();
  // Undo only a start made by this call: the other listener's socket may
  // still need the library.
  if (startsNetworking) {
    StopNetworking();
    networkingStarted = false;
  }
  return result;
}

}  // namespace palisard
