#include "net/socket.h"

#include "common/clock.h"

namespace palisard {

bool SendAll(SocketHandle socket, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    int sent = SendBytes(socket, bytes, size);
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveExactly(SocketHandle socket, void* buffer, std::size_t size) {
  char* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    int got = ReceiveBytes(socket, bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

SocketResult SetIoTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  if (SocketResult result = SetReceiveTimeout(socket, timeout); !result.ok()) return result;
  return SetSendTimeout(socket, timeout);
}

int ReceiveBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size) {
  const auto remaining = deadline.Remaining();
  if (remaining.count() <= 0) return -1;
  // Without the bound the receive could wait for ever.
  if (!SetReceiveTimeout(socket, remaining).ok()) return -1;
  return ReceiveBytes(socket, buffer, size);
}

bool ReceiveExactlyBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size) {
  char* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    int got = ReceiveBefore(socket, deadline, bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

Socket ConnectToFirst(const std::vector<uint32_t>& addresses, uint16_t port, std::chrono::milliseconds timeoutEach,
                      Ipv4Endpoint* connected) {
  for (uint32_t address : addresses) {
    Socket socket(OpenTcpSocket());
    if (!socket.valid()) break;
    const Ipv4Endpoint endpoint{address, port};
    if (!ConnectTo(socket.get(), endpoint, timeoutEach).ok()) continue;
    if (connected != nullptr) *connected = endpoint;
    return socket;
  }
  return Socket();
}

}  // namespace palisard
