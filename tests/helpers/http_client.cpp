#include "helpers/http_client.h"

#include "common/ipv4.h"

namespace palisard {

Socket ConnectToLoopback(uint16_t port, uint32_t from) {
  Socket socket;
  if (!OpenTcpSocket(&socket).ok()) return Socket();
  if (from != 0 && !BindAddress(socket.get(), {from, 0}).ok()) return Socket();
  if (!ConnectTo(socket.get(), {kLoopbackAddress, port}, std::chrono::seconds(5)).ok()) return Socket();
  return socket;
}

std::string ReadUntilClosed(SocketHandle socket, int timeoutMs) {
  if (!SetIoTimeout(socket, std::chrono::milliseconds(timeoutMs)).ok()) return "";
  std::string received;
  char buffer[4096];
  std::size_t got = 0;
  while (ReceiveBytes(socket, buffer, sizeof(buffer), &got).ok()) received.append(buffer, got);
  return received;
}

std::string HttpExchange(uint16_t port, const std::string& request, int timeoutMs) {
  Socket socket = ConnectToLoopback(port);
  if (!socket.valid() || !SendAll(socket.get(), request.data(), request.size()).ok()) return "<no connection>";
  return ReadUntilClosed(socket.get(), timeoutMs);
}

}  // namespace palisard
