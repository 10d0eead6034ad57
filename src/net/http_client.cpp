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

Result ExchangeHttp(SocketHandle socket, const std::string& request, const HttpClientLimits& limits,
                    HttpAnswer* answer) {
  const Result broken = Result::Failure(Result::Kind::kInvalid, 0, "not an HTTP answer within the limits");
  const Deadline deadline(SystemClock(), limits.answer);
  if (Result result = SetIoTimeout(socket, limits.answer); !result.ok()) return result;
  if (Result result = SendAll(socket, request.data(), request.size()); !result.ok()) return result;

  answer->message = HttpMessage(limits.maxBytes);
  answer->body.clear();
  char piece[4096];
  std::size_t received = 0;
  while (answer->message.status == HttpMessage::kIncomplete) {
    if (Result result = ReceiveBefore(socket, deadline, piece, sizeof(piece), &received); !result.ok()) return result;
    answer->message.Feed(piece, received);
  }
  if (answer->message.status != HttpMessage::kComplete) return broken;

  const HttpMessage& message = answer->message;
  if (!message.chunked()) {
    // Whatever came after the announced bytes is not part of the answer.
    if (message.contentLength != 0) answer->body = message.text.substr(message.bodyStart, message.contentLength);
    return Result::Ok();
  }

  // What came after the headers so far, then the rest, up to the last chunk.
  ChunkedDecoder decoder;
  std::size_t taken = message.text.size() - message.bodyStart;
  ChunkedDecoder::Progress result = decoder.Feed(message.text.data() + message.bodyStart, taken);
  while (result == ChunkedDecoder::kNeedMore) {
    if (Result got = ReceiveBefore(socket, deadline, piece, sizeof(piece), &received); !got.ok()) return got;
    taken += received;
    if (taken > limits.maxBytes) return broken;
    result = decoder.Feed(piece, received);
  }
  if (result != ChunkedDecoder::kDone) return broken;
  answer->body = decoder.body();
  return Result::Ok();
}

ChunkedDecoder::Progress ChunkedDecoder::Feed(const char* data, std::size_t size) {
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
