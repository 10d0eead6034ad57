#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>

#include "net/socket.h"

namespace palisard {
namespace {

SOCKET Handle(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = htonl(endpoint.address);
  return address;
}

int ClampSize(std::size_t size) { return size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size); }

// A Winsock code as the house's result: the kinds callers branch on, the
// number as the system gave it.
Result SystemFailure(int error) {
  switch (error) {
    case WSAEADDRINUSE:
      return Result::Failure(Result::Kind::kAddressInUse, error);
    case WSAETIMEDOUT:
      return Result::Failure(Result::Kind::kTimedOut, error);
    case WSAECONNREFUSED:
      return Result::Failure(Result::Kind::kRefused, error);
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return Result::Failure(Result::Kind::kUnreachable, error);
    default:
      return Result::Failure(Result::Kind::kFailed, error);
  }
}

Result LastFailure() { return SystemFailure(WSAGetLastError()); }

Result Checked(int returned) { return returned == SOCKET_ERROR ? LastFailure() : Result::Ok(); }

}  // namespace

Result StartNetworking() {
  WSADATA wsaData;
  const int error = WSAStartup(MAKEWORD(2, 2), &wsaData);
  return error == 0 ? Result::Ok() : SystemFailure(error);
}

void StopNetworking() { WSACleanup(); }

void Socket::reset(SocketHandle handle) {
  if (handle_ != kNone) ::closesocket(Handle(handle_));
  handle_ = handle;
}

Result ResolveIpv4(const std::string& host, std::vector<uint32_t>* addresses) {
  addresses->clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &results); error != 0) {
    return Result::Failure(Result::Kind::kNotFound, error);
  }
  for (addrinfo* at = results; at != nullptr; at = at->ai_next) {
    uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr);
    if (std::find(addresses->begin(), addresses->end(), address) == addresses->end()) addresses->push_back(address);
  }
  ::freeaddrinfo(results);
  return Result::Ok();
}

Result OpenTcpSocket(Socket* socket) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return LastFailure();
  socket->reset(static_cast<SocketHandle>(s));
  return Result::Ok();
}

Result BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint) {
  sockaddr_in address = ToSockaddr(endpoint);
  return Checked(::bind(Handle(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)));
}

Result ListenForConnections(SocketHandle socket) { return Checked(::listen(Handle(socket), SOMAXCONN)); }

Result AcceptConnection(SocketHandle listener, Socket* client, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  int length = sizeof(address);
  const SOCKET s = ::accept(Handle(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) return LastFailure();
  client->reset(static_cast<SocketHandle>(s));
  if (peer != nullptr) {
    peer->address = ntohl(address.sin_addr.s_addr);
    peer->port = ntohs(address.sin_port);
  }
  return Result::Ok();
}

Result ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint, std::chrono::milliseconds bound) {
  sockaddr_in address = ToSockaddr(endpoint);
  const sockaddr* target = reinterpret_cast<sockaddr*>(&address);
  if (bound.count() < 0) return Checked(::connect(Handle(socket), target, sizeof(address)));
  const int64_t timeoutMs = std::min<int64_t>(bound.count(), INT32_MAX);

  u_long nonBlocking = 1;
  ::ioctlsocket(Handle(socket), FIONBIO, &nonBlocking);
  int result = ::connect(Handle(socket), target, sizeof(address));
  int error = result == SOCKET_ERROR ? WSAGetLastError() : 0;
  if (error == WSAEWOULDBLOCK) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Handle(socket), &writable);
    FD_SET(Handle(socket), &failed);
    timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    int ready = ::select(0, nullptr, &writable, &failed, &timeout);
    if (ready == 0) {
      error = WSAETIMEDOUT;
    } else if (ready == SOCKET_ERROR) {
      error = WSAGetLastError();
    } else {
      int length = sizeof(error);
      error = 0;
      ::getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    }
  }
  u_long blocking = 0;
  ::ioctlsocket(Handle(socket), FIONBIO, &blocking);
  return error == 0 ? Result::Ok() : SystemFailure(error);
}

Result SendBytes(SocketHandle socket, const void* data, std::size_t size, std::size_t* done) {
  const int sent = ::send(Handle(socket), static_cast<const char*>(data), ClampSize(size), 0);
  *done = sent > 0 ? static_cast<std::size_t>(sent) : 0;
  return sent == SOCKET_ERROR ? LastFailure() : Result::Ok();
}

Result ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size, std::size_t* done) {
  const int got = ::recv(Handle(socket), static_cast<char*>(buffer), ClampSize(size), 0);
  *done = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got == SOCKET_ERROR) return LastFailure();
  if (got == 0 && size > 0) return Result::Failure(Result::Kind::kClosed);
  return Result::Ok();
}

void ShutdownSend(SocketHandle socket) { ::shutdown(Handle(socket), SD_SEND); }

static Result SetTimeoutOption(SocketHandle socket, int option, std::chrono::milliseconds bound) {
  DWORD timeout = static_cast<DWORD>(std::clamp<int64_t>(bound.count(), 1, INT32_MAX));
  const char* value = reinterpret_cast<const char*>(&timeout);
  return Checked(::setsockopt(Handle(socket), SOL_SOCKET, option, value, sizeof(timeout)));
}

Result SetReceiveTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_RCVTIMEO, timeout);
}

Result SetSendTimeout(SocketHandle socket, std::chrono::milliseconds timeout) {
  return SetTimeoutOption(socket, SO_SNDTIMEO, timeout);
}

std::optional<uint16_t> LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  int length = sizeof(address);
  if (::getsockname(Handle(socket), reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
    return std::nullopt;
  }
  return ntohs(address.sin_port);
}

}  // namespace palisard
