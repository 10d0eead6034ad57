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

// An errno as the house's result: the kinds callers branch on, the number
// as the system gave it.
Result SystemFailure(int error) {
  switch (error) {
    case EADDRINUSE:
      return Result::Failure(Result::Kind::kAddressInUse, error);
    case ETIMEDOUT:
    case EAGAIN:
      return Result::Failure(Result::Kind::kTimedOut, error);
    case ECONNREFUSED:
      return Result::Failure(Result::Kind::kRefused, error);
    case ENETUNREACH:
    case EHOSTUNREACH:
      return Result::Failure(Result::Kind::kUnreachable, error);
    default:
      return Result::Failure(Result::Kind::kFailed, error);
  }
}

Result LastFailure() { return SystemFailure(errno); }

Result Checked(int returned) { return returned == 0 ? Result::Ok() : LastFailure(); }

}  // namespace

Result StartNetworking() { return Result::Ok(); }
void StopNetworking() {}

void Socket::reset(SocketHandle handle) {
  if (handle_ != kNone) ::close(Fd(handle_));
  handle_ = handle;
}

Result ResolveIpv4(const std::string& host, std::vector<uint32_t>* addresses) {
  addresses->clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &results); error != 0) {
    return Result::Failure(Result::Kind::kNotFound, error, gai_strerror(error));
  }
  for (addrinfo* at = results; at != nullptr; at = at->ai_next) {
    uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr);
    if (std::find(addresses->begin(), addresses->end(), address) == addresses->end()) addresses->push_back(address);
  }
  ::freeaddrinfo(results);
  return Result::Ok();
}

Result OpenTcpSocket(Socket* socket) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return LastFailure();
  socket->reset(static_cast<SocketHandle>(fd));
  return Result::Ok();
}

Result BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint) {
  // Linux refuses to bind a port that still has connections in TIME_WAIT,
  // which Windows allows; without this a restarted copy could not listen for
  // a minute. It never lets two listeners share a port on Linux.
  int on = 1;
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address = ToSockaddr(endpoint);
  return Checked(::bind(Fd(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)));
}

Result ListenForConnections(SocketHandle socket) { return Checked(::listen(Fd(socket), SOMAXCONN)); }

Result AcceptConnection(SocketHandle listener, Socket* client, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  const int fd = ::accept4(Fd(listener), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) return LastFailure();
  client->reset(static_cast<SocketHandle>(fd));
  if (peer != nullptr) {
    peer->address = ntohl(address.sin_addr.s_addr);
    peer->port = ntohs(address.sin_port);
  }
  return Result::Ok();
}

Result ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint, std::chrono::milliseconds timeout) {
  sockaddr_in address = ToSockaddr(endpoint);
  const sockaddr* target = reinterpret_cast<sockaddr*>(&address);
  if (timeout.count() < 0) return Checked(::connect(Fd(socket), target, sizeof(address)));

  int flags = ::fcntl(Fd(socket), F_GETFL);
  ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK);
  int error = ::connect(Fd(socket), target, sizeof(address)) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd wait{Fd(socket), POLLOUT, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(std::min<int64_t>(timeout.count(), INT32_MAX)));
    socklen_t length = sizeof(error);
    if (ready == 0) {
      error = ETIMEDOUT;
    } else if (ready < 0 || ::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
  }
  ::fcntl(Fd(socket), F_SETFL, flags);
  return error == 0 ? Result::Ok() : SystemFailure(error);
}

Result SendBytes(SocketHandle socket, const void* data, std::size_t size, std::size_t* done) {
  // MSG_NOSIGNAL: a peer that closed early must not kill the process.
  const ssize_t sent = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
  *done = sent > 0 ? static_cast<std::size_t>(sent) : 0;
  return sent < 0 ? LastFailure() : Result::Ok();
}

Result ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size, std::size_t* done) {
  const ssize_t got = ::recv(Fd(socket), buffer, size, 0);
  *done = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got < 0) return LastFailure();
  if (got == 0 && size > 0) return Result::Failure(Result::Kind::kClosed);
  return Result::Ok();
}

void ShutdownSend(SocketHandle socket) { ::shutdown(Fd(socket), SHUT_WR); }

static Result SetTimeoutOption(SocketHandle socket, int option, std::chrono::milliseconds bound) {
  const int64_t milliseconds = std::max<int64_t>(bound.count(), 1);
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timeout.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return Checked(::setsockopt(Fd(socket), SOL_SOCKET, option, &timeout, sizeof(timeout)));
}

Result SetReceiveTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_RCVTIMEO, timeout);
}

Result SetSendTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_SNDTIMEO, timeout);
}

std::optional<uint16_t> LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  return ntohs(address.sin_port);
}

}  // namespace palisard
