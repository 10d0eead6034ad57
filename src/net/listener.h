#pragma once

#include <cstdint>

#include "common/console_output.h"
#include "common/result.h"
#include "net/socket.h"

namespace palisard {

// One listening port of the program (the web console's or the admin
// service's). Owns its socket, which closes with it. Initialised once on the
// main thread before the accept loops start; read-only afterwards.
class Listener {
 public:
  Listener() = default;
  Listener(Listener&&) = default;
  Listener& operator=(Listener&&) = default;

  // Who can connect: every interface, or this machine alone (127.0.0.1).
  enum class Reach { kEveryInterface, kLoopbackOnly };

  // Opens, binds and listens on `port`, printing progress or the failing
  // step with the system's code, which the failure carries.
  Result Initialize(uint16_t port, ConsoleSink& console = StandardOutput(), Reach reach = Reach::kEveryInterface);

  uint16_t port() const { return port_; }
  SocketHandle socket() const { return socket_.get(); }
  bool listening() const { return socket_.valid(); }

 private:
  uint16_t port_ = 0;
  Socket socket_;
};

}  // namespace palisard
