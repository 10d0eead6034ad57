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

}  // namespace

SocketResult StartNetworking() {
  WSADATA wsaData;
  return WSAStartup(MAKEWORD(2, 2), &wsaData);
}

void StopNetworking() { WSACleanup(); }
int LastSocketError() { return WSAGetLastError(); }

SocketError ClassifySocketError(int systemCode) {
  switch (systemCode) {
    case WSAEADDRINUSE:
      return SocketError::kAddressInUse;
    case WSAETIMEDOUT:
      return SocketError::kTimedOut;
    case WSAECONNREFUSED:
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
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle socket) { ::closesocket(Handle(socket)); }

SocketResult BindAnyAddress(SocketHandle socket, uint16_t port) {
  return BindAddress(socket, Ipv4Endpoint{INADDR_ANY, port});
}

SocketResult BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint) {
  sockaddr_in address = ToSockaddr(endpoint);
  if (::bind(Handle(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
    return SocketResult::LastError();
  }
  return 0;
}

SocketResult ListenForConnections(SocketHandle socket) {
  return ::listen(Handle(socket), SOMAXCONN) == SOCKET_ERROR ? SocketResult::LastError() : SocketResult();
}

SocketHandle AcceptConnection(SocketHandle listener, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  int length = sizeof(address);
  SOCKET s = ::accept(Handle(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (peer != nullptr) {
    peer->address = ntohl(address.sin_addr.s_addr);
    peer->port = ntohs(address.sin_port);
  }
  return static_cast<SocketHandle>(s);
}

SocketResult ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint, std::chrono::milliseconds bound) {
  sockaddr_in address = ToSockaddr(endpoint);
  const sockaddr* target = reinterpret_cast<sockaddr*>(&address);
  if (bound.count() < 0) {
    return ::connect(Handle(socket), target, sizeof(address)) == SOCKET_ERROR ? SocketResult::LastError()
                                                                              : SocketResult();
  }
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
  return error;
}

int SendBytes(SocketHandle socket, const void* data, std::size_t size) {
  int sent = ::send(Handle(socket), static_cast<const char*>(data), ClampSize(size), 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size) {
  int got = ::recv(Handle(socket), static_cast<char*>(buffer), ClampSize(size), 0);
  return got == SOCKET_ERROR ? -1 : got;
}

void ShutdownSend(SocketHandle socket) { ::shutdown(Handle(socket), SD_SEND); }

static SocketResult SetTimeoutOption(SocketHandle socket, int option, std::chrono::milliseconds bound) {
  DWORD timeout = static_cast<DWORD>(std::clamp<int64_t>(bound.count(), 1, INT32_MAX));
  const char* value = reinterpret_cast<const char*>(&timeout);
  if (::setsockopt(Handle(socket), SOL_SOCKET, option, value, sizeof(timeout)) == SOCKET_ERROR) {
    return SocketResult::LastError();
  }
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
  int length = sizeof(address);
  if (::getsockname(Handle(socket), reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) return 0;
  return ntohs(address.sin_port);
}

}  // namespace palisard
