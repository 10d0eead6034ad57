#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "net/socket.h"

namespace palisard {
namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = htonl(endpoint.address);
  return address;
}

}  // namespace

SocketResult StartNetworking() { return 0; }
void StopNetworking() {}
int LastSocketError() { return errno; }

SocketError ClassifySocketError(int systemCode) {
  switch (systemCode) {
    case EADDRINUSE:
      return SocketError::kAddressInUse;
    case ETIMEDOUT:
    case EAGAIN:
      return SocketError::kTimedOut;
    case ECONNREFUSED:
      return SocketError::kRefused;
    default:
      return SocketError::kOther;
  }
}

std::vector<uint32_t> ResolveIpv4(const std::string& host) {
  std::vector<uint32_t> addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0) return addresses;
  for (addrinfo* at = results; at != nullptr; at = at->ai_next) {
    uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr);
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
  }
  ::freeaddrinfo(results);
  return addresses;
}

SocketHandle OpenTcpSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

void CloseSocket(SocketHandle socket) { ::close(Fd(socket)); }

SocketResult BindAnyAddress(SocketHandle socket, uint16_t port) {
  return BindAddress(socket, Ipv4Endpoint{INADDR_ANY, port});
}

SocketResult BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint) {
  // Linux refuses to bind a port that still has connections in TIME_WAIT,
  // which Windows allows; without this a restarted copy could not listen for
  // a minute. It never lets two listeners share a port on Linux.
  int on = 1;
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address = ToSockaddr(endpoint);
  if (::bind(Fd(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return SocketResult::LastError();
  return 0;
}

SocketResult ListenForConnections(SocketHandle socket) {
  return ::listen(Fd(socket), SOMAXCONN) == 0 ? SocketResult() : SocketResult::LastError();
}

SocketHandle AcceptConnection(SocketHandle listener, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  int fd = ::accept4(Fd(listener), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) return kInvalidSocket;
  if (peer != nullptr) {
    peer->address = ntohl(address.sin_addr.s_addr);
    peer->port = ntohs(address.sin_port);
  }
  return static_cast<SocketHandle>(fd);
}

SocketResult ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint, std::chrono::milliseconds timeout) {
  sockaddr_in address = ToSockaddr(endpoint);
  const sockaddr* target = reinterpret_cast<sockaddr*>(&address);
  if (timeout.count() < 0) {
    return ::connect(Fd(socket), target, sizeof(address)) == 0 ? SocketResult() : SocketResult::LastError();
  }

  int flags = ::fcntl(Fd(socket), F_GETFL);
  ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(Fd(socket), target, sizeof(address));
  if (result != 0 && errno == EINPROGRESS) {
    pollfd wait{Fd(socket), POLLOUT, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(std::min<int64_t>(timeout.count(), INT32_MAX)));
    int error = 0;
    socklen_t length = sizeof(error);
    if (ready == 0) {
      error = ETIMEDOUT;
    } else if (ready < 0 || ::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
    result = error == 0 ? 0 : -1;
    errno = error;
  }
  const SocketResult outcome = result == 0 ? SocketResult() : SocketResult::LastError();
  ::fcntl(Fd(socket), F_SETFL, flags);
  return outcome;
}

int SendBytes(SocketHandle socket, const void* data, std::size_t size) {
  // MSG_NOSIGNAL: a peer that closed early must not kill the process.
  return static_cast<int>(::send(Fd(socket), data, size, MSG_NOSIGNAL));
}

int ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size) {
  return static_cast<int>(::recv(Fd(socket), buffer, size, 0));
}

void ShutdownSend(SocketHandle socket) { ::shutdown(Fd(socket), SHUT_WR); }

static SocketResult SetTimeoutOption(SocketHandle socket, int option, std::chrono::milliseconds bound) {
  const int64_t milliseconds = std::max<int64_t>(bound.count(), 1);
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timeout.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  if (::setsockopt(Fd(socket), SOL_SOCKET, option, &timeout, sizeof(timeout)) != 0) return SocketResult::LastError();
  return 0;
}

SocketResult SetReceiveTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_RCVTIMEO, timeout);
}

SocketResult SetSendTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_SNDTIMEO, timeout);
}

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace palisard
