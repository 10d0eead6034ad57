#include "net/http_client.h"

#include <cstdlib>
#include <cstring>

#include "common/clock.h"

namespace palisard {
namespace {

bool IsChunked(const HttpMessage& message) {
  const char* encoding = message.HeaderValue("transfer-encoding");
  return encoding != nullptr && std::strstr(encoding, "chunked") != nullptr;
}

}  // namespace

bool ExchangeHttp(SocketHandle socket, const std::string& request, const HttpClientLimits& limits,
                  HttpAnswer* answer) {
  const Deadline deadline(SystemClock(), limits.answer);
  SetIoTimeout(socket, static_cast<int>(limits.answer.count()));
  if (!SendAll(socket, request.data(), request.size())) return false;

  answer->message = HttpMessage(limits.maxBytes);
  char piece[4096];
  while (answer->message.status == HttpMessage::kIncomplete) {
    int received = ReceiveBefore(socket, deadline, piece, sizeof(piece));
    if (received <= 0) return false;
    answer->message.Feed(piece, static_cast<std::size_t>(received));
  }
  if (answer->message.status != HttpMessage::kComplete) return false;

  const HttpMessage& message = answer->message;
  if (message.contentLength != 0) {
    answer->body = message.Body();
    return true;
  }
  if (!IsChunked(message)) return true;  // no length, no chunks: no body

  // What came after the headers so far, then the rest, up to the last chunk.
  std::string raw = message.text.substr(message.bodyStart);
  while (!DecodeChunkedBody(raw, &answer->body)) {
    if (raw.size() > limits.maxBytes) return false;
    int received = ReceiveBefore(socket, deadline, piece, sizeof(piece));
    if (received <= 0) return false;
    raw.append(piece, static_cast<std::size_t>(received));
  }
  return true;
}

bool DecodeChunkedBody(const std::string& raw, std::string* body) {
  body->clear();
  std::size_t at = 0;
  for (;;) {
    std::size_t lineEnd = raw.find("\r\n", at);
    if (lineEnd == std::string::npos) return false;
    char* end = nullptr;
    const std::string sizeLine = raw.substr(at, lineEnd - at);
    unsigned long long size = std::strtoull(sizeLine.c_str(), &end, 16);
    if (end == sizeLine.c_str()) return false;  // not a chunk size
    at = lineEnd + 2;
    if (size == 0) return true;
    if (size > raw.size() || raw.size() - at < size + 2) return false;
    body->append(raw, at, size);
    at += size + 2;
  }
}

}  // namespace palisard
