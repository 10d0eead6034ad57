#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace palisard {

// The few socket calls the program makes, over Winsock and BSD sockets.
// Calls that can fail return a SocketResult carrying the system's own code
// (the Winsock code on Windows, errno on Linux); the byte counts of one
// send or receive are -1 on failure, and kInvalidSocket stands for no
// socket, LastSocketError() then giving the code.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

int LastSocketError();

// What a system error code means, alike on every platform.
enum class SocketError { kOther, kAddressInUse, kTimedOut, kRefused };
SocketError ClassifySocketError(int systemCode);

// 0, or the system's code of the call that failed.
class [[nodiscard]] SocketResult {
 public:
  constexpr SocketResult(int error = 0) : error_(error) {}
  // The failure of the call that just failed, never 0.
  static SocketResult LastError() {
    const int error = LastSocketError();
    return error != 0 ? error : -1;
  }
  bool ok() const { return error_ == 0; }
  int error() const { return error_; }
  SocketError kind() const { return ClassifySocketError(error_); }
  bool operator==(int error) const { return error_ == error; }

 private:
  int error_;
};

// Starts the platform's socket library (WSAStartup 2.2 on Windows).
// StopNetworking undoes one successful start.
SocketResult StartNetworking();
void StopNetworking();

// An IPv4 endpoint: address in host order (first octet in the top 8 bits).
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// The IPv4 addresses of `host` (host order), in the resolver's order; empty
// when the name does not resolve. Thread-safe (getaddrinfo).
std::vector<uint32_t> ResolveIpv4(const std::string& host);

SocketHandle OpenTcpSocket();
void CloseSocket(SocketHandle socket);
// Binds to all local interfaces on `port`.
SocketResult BindAnyAddress(SocketHandle socket, uint16_t port);
SocketResult BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint);
SocketResult ListenForConnections(SocketHandle socket);
// Blocks until a peer connects; `peer` (optional) receives its address.
SocketHandle AcceptConnection(SocketHandle listener, Ipv4Endpoint* peer);
// Connects, waiting at most `timeout` (no limit of its own when negative); a
// time-out fails with the system's timed-out code.
SocketResult ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));
// One send/recv call each: the byte count, or -1. Receive returns 0 when the
// peer closed the connection.
[[nodiscard]] int SendBytes(SocketHandle socket, const void* data, std::size_t size);
[[nodiscard]] int ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size);
// Sends everything or fails: true when all bytes went out.
[[nodiscard]] bool SendAll(SocketHandle socket, const void* data, std::size_t size);
// Receives exactly `size` bytes; false when the peer closed, failed or timed
// out first.
[[nodiscard]] bool ReceiveExactly(SocketHandle socket, void* buffer, std::size_t size);
// Ends the sending direction, so the peer sees the end of the answer.
void ShutdownSend(SocketHandle socket);
// Bounds every later blocking receive and send on the socket (at least
// 1 ms: a zero would mean no bound at all).
SocketResult SetIoTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
// Bounds every later blocking receive, or send, only.
SocketResult SetReceiveTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
SocketResult SetSendTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
// The port a bound socket listens on (for tests that bind port 0).
uint16_t LocalPort(SocketHandle socket);

class Deadline;

// Receives into `buffer` with what is left of `deadline`: the byte count,
// 0 when the peer closed, -1 on failure or when the deadline has passed.
[[nodiscard]] int ReceiveBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size);
// Receives exactly `size` bytes before `deadline`; false when the peer
// closed, failed or the deadline passed first, however the bytes trickled.
[[nodiscard]] bool ReceiveExactlyBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size);

// Owns one socket handle and closes it when it goes out of scope.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { reset(); }

  SocketHandle get() const { return handle_; }
  bool valid() const { return handle_ != kInvalidSocket; }
  SocketHandle release() { return std::exchange(handle_, kInvalidSocket); }
  void reset(SocketHandle handle = kInvalidSocket) {
    if (handle_ != kInvalidSocket) CloseSocket(handle_);
    handle_ = handle;
  }

 private:
  SocketHandle handle_ = kInvalidSocket;
};

// A socket connected to the first of `addresses` that accepts on `port`,
// each attempt bounded by `timeoutEach`; `connected` (optional) receives the
// endpoint. An invalid socket when none does.
Socket ConnectToFirst(const std::vector<uint32_t>& addresses, uint16_t port, std::chrono::milliseconds timeoutEach,
                      Ipv4Endpoint* connected = nullptr);

}  // namespace palisard
