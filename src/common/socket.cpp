#include "common/socket.h"

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

}  // namespace palisard
