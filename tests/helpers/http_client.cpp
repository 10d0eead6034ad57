#include "helpers/http_client.h"

namespace palisard {

Socket ConnectToLoopback(uint16_t port, uint32_t from) {
  Socket socket(OpenTcpSocket());
  if (from != 0 && BindAddress(socket.get(), {from, 0}) != 0) return Socket();
  if (!ConnectTo(socket.get(), {0x7F000001, port}, std::chrono::seconds(5)).ok()) return Socket();
  return socket;
}

std::string ReadUntilClosed(SocketHandle socket, int timeoutMs) {
  if (!SetIoTimeout(socket, std::chrono::milliseconds(timeoutMs)).ok()) return "";
  std::string received;
  char buffer[4096];
  int got;
  while ((got = ReceiveBytes(socket, buffer, sizeof(buffer))) > 0)
    received.append(buffer, static_cast<std::size_t>(got));
  return received;
}

std::string HttpExchange(uint16_t port, const std::string& request, int timeoutMs) {
  Socket socket = ConnectToLoopback(port);
  if (!socket.valid() || !SendAll(socket.get(), request.data(), request.size())) return "<no connection>";
  return ReadUntilClosed(socket.get(), timeoutMs);
}

}  // namespace palisard
