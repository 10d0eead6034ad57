#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "net/http_message.h"
#include "net/socket.h"

namespace palisard {

// Bounds on one exchange with a remote HTTP server (the ban service, the
// version file): a silent, slow or endless server never holds a thread for
// good. `answer` bounds the whole answer, however it trickles in.
struct HttpClientLimits {
  std::chrono::milliseconds connect{5'000};
  std::chrono::milliseconds answer{5'000};
  std::size_t maxBytes = 1024 * 1024;
};

struct HttpAnswer {
  HttpMessage message;
  // The body: exactly the bytes announced by the content length, the
  // decoded chunks of a chunked answer, or nothing.
  std::string body;
};

// Sends `request` on the connected `socket` and reads the answer within the
// limits: ok once a complete answer arrived (whatever its status), kInvalid
// for an answer that breaks HTTP or the size limit, or the socket's failure.
Result ExchangeHttp(SocketHandle socket, const std::string& request, const HttpClientLimits& limits,
                    HttpAnswer* answer);

// Decodes a "Transfer-Encoding: chunked" body as it arrives, each byte once.
class ChunkedDecoder {
 public:
  enum Progress { kDone, kNeedMore, kBroken };

  // Takes in the next bytes; kDone once the last chunk has been read (the
  // bytes after it are not looked at), kBroken as soon as the framing is.
  Progress Feed(const char* data, std::size_t size);
  const std::string& body() const { return body_; }

 private:
  enum Stage { kSizeLine, kData, kDataEnd, kFinished };

  std::string pending_;  // bytes not decoded yet
  std::string body_;
  Stage stage_ = kSizeLine;
  uint64_t chunkLeft_ = 0;
  Progress result_ = kNeedMore;
};

}  // namespace palisard
