#include "net/http_client.h"

#include <algorithm>

#include "common/clock.h"

namespace palisard {
namespace {

// A size line is hex digits and perhaps an extension; longer is no framing.
constexpr std::size_t kMaxSizeLine = 256;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ExchangeHttp(SocketHandle socket, const std::string& request, const HttpClientLimits& limits, HttpAnswer* answer) {
  const Deadline deadline(SystemClock(), limits.answer);
  if (!SetIoTimeout(socket, limits.answer).ok()) return false;
  if (!SendAll(socket, request.data(), request.size())) return false;

  answer->message = HttpMessage(limits.maxBytes);
  answer->body.clear();
  char piece[4096];
  while (answer->message.status == HttpMessage::kIncomplete) {
    int received = ReceiveBefore(socket, deadline, piece, sizeof(piece));
    if (received <= 0) return false;
    answer->message.Feed(piece, static_cast<std::size_t>(received));
  }
  if (answer->message.status != HttpMessage::kComplete) return false;

  const HttpMessage& message = answer->message;
  if (!message.chunked()) {
    // Whatever came after the announced bytes is not part of the answer.
    if (message.contentLength != 0) answer->body = message.text.substr(message.bodyStart, message.contentLength);
    return true;
  }

  // What came after the headers so far, then the rest, up to the last chunk.
  ChunkedDecoder decoder;
  std::size_t taken = message.text.size() - message.bodyStart;
  ChunkedDecoder::Result result = decoder.Feed(message.text.data() + message.bodyStart, taken);
  while (result == ChunkedDecoder::kNeedMore) {
    int received = ReceiveBefore(socket, deadline, piece, sizeof(piece));
    if (received <= 0) return false;
    taken += static_cast<std::size_t>(received);
    if (taken > limits.maxBytes) return false;
    result = decoder.Feed(piece, static_cast<std::size_t>(received));
  }
  if (result != ChunkedDecoder::kDone) return false;
  answer->body = decoder.body();
  return true;
}

ChunkedDecoder::Result ChunkedDecoder::Feed(const char* data, std::size_t size) {
  if (result_ != kNeedMore) return result_;
  pending_.append(data, size);
  std::size_t at = 0;
  while (result_ == kNeedMore) {
    const std::size_t available = pending_.size() - at;
    if (stage_ == kSizeLine) {
      const std::size_t lineEnd = pending_.find("\r\n", at);
      // The limit is alike whether the line arrives whole or in pieces.
      if (lineEnd == std::string::npos) {
        if (available > kMaxSizeLine + 1) result_ = kBroken;
        break;
      }
      if (lineEnd - at > kMaxSizeLine) {
        result_ = kBroken;
        break;
      }
      uint64_t chunkSize = 0;
      std::size_t p = at;
      for (; p < lineEnd && HexDigit(pending_[p]) >= 0; ++p) {
        if (chunkSize >> 60 != 0) break;  // would overflow
        chunkSize = chunkSize * 16 + static_cast<uint64_t>(HexDigit(pending_[p]));
      }
      // At least one digit, then the line's end or an extension.
      if (p == at || (p < lineEnd && pending_[p] != ';' && pending_[p] != ' ' && pending_[p] != '\t')) {
        result_ = kBroken;
        break;
      }
      at = lineEnd + 2;
      chunkLeft_ = chunkSize;
      stage_ = chunkSize == 0 ? kFinished : kData;
      if (stage_ == kFinished) result_ = kDone;
    } else if (stage_ == kData) {
      if (available == 0) break;
      const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(chunkLeft_, available));
      body_.append(pending_, at, take);
      at += take;
      chunkLeft_ -= take;
      if (chunkLeft_ == 0) stage_ = kDataEnd;
    } else if (stage_ == kDataEnd) {
      if (available < 2) {
        if (available == 1 && pending_[at] != '\r') result_ = kBroken;
        break;
      }
      if (pending_.compare(at, 2, "\r\n") != 0) {
        result_ = kBroken;
        break;
      }
      at += 2;
      stage_ = kSizeLine;
    }
  }
  pending_.erase(0, at);
  return result_;
}

}  // namespace palisard
