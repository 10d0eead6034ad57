#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"

namespace palisard {

// The few socket calls the program makes, over Winsock and BSD sockets.
// Calls that can fail return a Result whose code is the system's own (the
// Winsock code on Windows, errno on Linux); what a call produces (a socket,
// a byte count, addresses) goes to its out-parameter.
using SocketHandle = std::uintptr_t;

// Starts the platform's socket library (WSAStartup 2.2 on Windows).
// StopNetworking undoes one successful start.
Result StartNetworking();
void StopNetworking();

// An IPv4 endpoint: address in host order (first octet in the top 8 bits).
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

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
  bool valid() const { return handle_ != kNone; }
  SocketHandle release() { return std::exchange(handle_, kNone); }
  void reset(SocketHandle handle = kNone);

 private:
  static constexpr SocketHandle kNone = ~static_cast<SocketHandle>(0);
  SocketHandle handle_ = kNone;
};

// The IPv4 addresses of `host` (host order), in the resolver's order;
// kNotFound when the name does not resolve. Thread-safe (getaddrinfo).
Result ResolveIpv4(const std::string& host, std::vector<uint32_t>* addresses);

Result OpenTcpSocket(Socket* socket);
Result BindAddress(SocketHandle socket, const Ipv4Endpoint& endpoint);
Result ListenForConnections(SocketHandle socket);
// Blocks until a peer connects; `peer` (optional) receives its address.
Result AcceptConnection(SocketHandle listener, Socket* client, Ipv4Endpoint* peer);
// Connects, waiting at most `timeout` (no limit of its own when negative); a
// time-out fails with kTimedOut and the system's timed-out code.
Result ConnectTo(SocketHandle socket, const Ipv4Endpoint& endpoint,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));
// One send/recv call each; the byte count goes to `done`. A receive fails
// with kClosed when the peer closed the connection.
Result SendBytes(SocketHandle socket, const void* data, std::size_t size, std::size_t* done);
Result ReceiveBytes(SocketHandle socket, void* buffer, std::size_t size, std::size_t* done);
// Sends everything or fails.
Result SendAll(SocketHandle socket, const void* data, std::size_t size);
// Receives exactly `size` bytes, or fails: kClosed when the peer closed
// first, kTimedOut when the socket's bound ran out.
Result ReceiveExactly(SocketHandle socket, void* buffer, std::size_t size);
// Ends the sending direction, so the peer sees the end of the answer.
void ShutdownSend(SocketHandle socket);
// Bounds every later blocking receive and send on the socket (at least
// 1 ms: a zero would mean no bound at all).
Result SetIoTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
// Bounds every later blocking receive, or send, only.
Result SetReceiveTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
Result SetSendTimeout(SocketHandle socket, std::chrono::milliseconds timeout);
// The port a bound socket listens on (for tests that bind port 0).
std::optional<uint16_t> LocalPort(SocketHandle socket);

class Deadline;

// Receives into `buffer` with what is left of `deadline`; the byte count
// goes to `done`. kTimedOut once the deadline has passed, kClosed when the
// peer closed.
Result ReceiveBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size, std::size_t* done);
// Receives exactly `size` bytes before `deadline`, however they trickle in,
// or fails as ReceiveBefore does.
Result ReceiveExactlyBefore(SocketHandle socket, const Deadline& deadline, void* buffer, std::size_t size);

// Connects to the first of `addresses` that accepts on `port`, each attempt
// bounded by `timeoutEach`; `connected` (optional) receives the endpoint.
// The last attempt's failure when none does (kUnreachable for no address).
Result ConnectToFirst(const std::vector<uint32_t>& addresses, uint16_t port, std::chrono::milliseconds timeoutEach,
                      Socket* socket, Ipv4Endpoint* connected = nullptr);

}  // namespace palisard
