#pragma once

#include <cstdint>

#include "common/socket.h"

namespace palisard {

// One listening port of the program (the web console's or the admin
// service's). Initialised once on the main thread before the accept loops
// start; read-only afterwards.
struct TcpServer {
  uint16_t port = 0;
  SocketHandle listenSocket = kInvalidSocket;

  // Opens, binds (all interfaces) and listens on `port`, printing progress or
  // the failing step. Returns 0, or the system error code of that step.
  int Initialize(uint16_t port);
};

}  // namespace palisard
