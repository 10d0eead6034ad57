#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "net/socket.h"
#include "net/http_message.h"

namespace palisard {

// Bounds on one exchange with a remote HTTP server (the ban service, the
// version file): a silent or endless server never holds a thread for good.
struct HttpClientLimits {
  std::chrono::milliseconds connect{5'000};
  std::chrono::milliseconds answer{10'000};
  std::size_t maxBytes = 1024 * 1024;
};

struct HttpAnswer {
  HttpMessage message;
  // The body: the bytes announced by the content length, the decoded chunks
  // of a chunked answer, or nothing.
  std::string body;
};

// Sends `request` on the connected `socket` and reads the answer within the
// limits. True when a complete answer arrived.
bool ExchangeHttp(SocketHandle socket, const std::string& request, const HttpClientLimits& limits,
                  HttpAnswer* answer);

// Decodes a "Transfer-Encoding: chunked" body; true once its last chunk has
// been read (the body then holds the data), false while more is needed or
// when the chunk framing is broken.
bool DecodeChunkedBody(const std::string& raw, std::string* body);

}  // namespace palisard
