#pragma once

#include <cstdint>
#include <string>

#include "net/socket.h"

namespace palisard {

// Connects to 127.0.0.1:`port`; an invalid socket when that fails.
Socket ConnectToLoopback(uint16_t port, uint32_t from = 0);

// Sends `request` and returns every byte the server sends until it closes
// (at most `timeoutMs` of waiting).
std::string HttpExchange(uint16_t port, const std::string& request, int timeoutMs = 5000);

// Reads until the peer closes or `timeoutMs` passes.
std::string ReadUntilClosed(SocketHandle socket, int timeoutMs = 5000);

}  // namespace palisard
