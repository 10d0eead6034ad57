#include "web/tcp_server.h"

#include <atomic>

#include "common/console_output.h"

namespace palisard {
namespace {

// The socket library is started once per process, by whichever server is
// initialised first.
std::atomic<bool> networkingStarted{false};

}  // namespace

int TcpServer::Initialize(uint16_t requestedPort) {
  const bool startsNetworking = !networkingStarted;
  if (startsNetworking) {
    int error = StartNetworking();
    if (error != 0) {
      Print("Problem initializing WinSock: %i\n", error);
      return error;
    }
    networkingStarted = true;
  }

  port = requestedPort;
  int error = 0;
  listenSocket = OpenTcpSocket();
  if (listenSocket == kInvalidSocket) {
    error = LastSocketError();
    Print("Problem opening socket: %i\n", error);
  } else if (BindAnyAddress(listenSocket, port) != 0) {
    error = LastSocketError();
    Print("Problem binding socket ( port %i ): %i\n", port, error);
  } else if (ListenForConnections(listenSocket) != 0) {
    error = LastSocketError();
    Print("Problem listening on socket: %i\n", error);
  } else {
    Print("Initialized server ( port %i )..\n", port);
    return 0;
  }

  if (listenSocket != kInvalidSocket) {
    CloseSocket(listenSocket);
    listenSocket = kInvalidSocket;
  }
  // Undo only a start made by this call: the other server's socket may still
  // need the library.
  if (startsNetworking) {
    StopNetworking();
    networkingStarted = false;
  }
  return error;
}

}  // namespace palisard
