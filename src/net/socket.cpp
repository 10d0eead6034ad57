#include "net/socket.h"

#include "common/clock.h"

namespace palisard {

Result SendAll(SocketHandle socket, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t sent = 0;
    if (Result result = SendBytes(socket, bytes, size, &sent); !result.ok()) return result;
    bytes += sent;
    size -= sent;
  }
  return Result::Ok();
}

Result ReceiveExactly(SocketHandle socket, void* buffer, std::size_t size) {
  char* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    std::size_t got = 0;
    if (Result result = ReceiveBytes(socket, bytes, size, &got); !result.ok()) return result;
    bytes += got;
    size -= got;
  }
  return Result::Ok();
}

Result SetIoTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  if (Result result = SetReceiveTimeout(socket, timeout); !result.ok()) return result;
  return SetSendTimeout(socket, timeout);
}

Result ReceiveBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size, std::size_t* done) {
  *done = 0;
  if (deadline.Passed()) return Result::Failure(Result::Kind::kTimedOut);
  // Without the bound the receive could wait for ever.
  if (Result bounded = SetReceiveTimeout(socket, deadline.Remaining()); !bounded.ok()) return bounded;
  return ReceiveBytes(socket, buffer, size, done);
}

Result ReceiveExactlyBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size) {
  char* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    std::size_t got = 0;
    if (Result result = ReceiveBefore(socket, deadline, bytes, size, &got); !result.ok()) return result;
    bytes += got;
    size -= got;
  }
  return Result::Ok();
}

Result ConnectToFirst(const std::vector<uint32_t>& addresses, uint16_t port, std::chrono::milliseconds timeoutEach,
                      Socket* socket, Ipv4Endpoint* connected) {
  Result last = Result::Failure(Result::Kind::kUnreachable, 0, "no address");
  for (uint32_t address : addresses) {
    Socket attempt;
    if (last = OpenTcpSocket(&attempt); !last.ok()) break;
    const Ipv4Endpoint endpoint{address, port};
    if (last = ConnectTo(attempt.get(), endpoint, timeoutEach); !last.ok()) continue;
    if (connected != nullptr) *connected = endpoint;
    *socket = std::move(attempt);
    return last;
  }
  return last;
}

}  // namespace palisard
