#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ipv4.h"
#include "net/socket.h"

namespace palisard {

// A scripted HTTP server on a loopback port: reads each request (headers and
// a content-length body) and sends back whatever `answer` returns for it.
class FakeHttpServer {
 public:
  enum class Mode {
    kAnswer,      // answer every request
    kSilent,      // read the request, then say nothing until the client leaves
    kAcceptOnce,  // stop listening after the first connection
  };
  using Answer = std::function<std::string(const std::string& request)>;

  explicit FakeHttpServer(Answer answer, Mode mode = Mode::kAnswer, Ipv4Endpoint where = {kLoopbackAddress, 0});
  ~FakeHttpServer();

  uint16_t port() const { return port_; }
  bool listening() const { return listening_; }
  int connections() const { return connections_; }
  // Every complete request received, in order.
  std::vector<std::string> requests() const;

  // An HTTP/1.1 answer with a content length.
  static std::string Ok(const std::string& body, const std::string& status = "200 OK");
  // The same body as one chunked answer (no content length).
  static std::string Chunked(const std::string& body);

 private:
  void Serve();

  Answer answer_;
  Mode mode_;
  Socket listener_;
  uint16_t port_ = 0;
  Ipv4Endpoint where_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listening_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace palisard
