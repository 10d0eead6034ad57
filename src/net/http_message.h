#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace palisard {

// An incremental HTTP message parser: a table-driven state machine over
// single bytes, shared by the web console (requests) and the ban-service and
// version clients (answers). It edits the text in place, so that the start
// line's tokens and the header names become NUL-terminated strings inside
// `text`, and keeps offsets into it. Header names are stored in lower case.
// A message is malformed when its content length is not one plain decimal
// number that fits the size limit (the same in every such header), so that
// no two readers of it can disagree on where it ends.
class HttpMessage {
 public:
  enum Status : int32_t { kComplete = 0, kMalformed = 1, kIncomplete = 2 };

  // A message that grows past `maxSize` bytes before it is complete counts as
  // malformed, so a peer cannot fill the memory.
  explicit HttpMessage(std::size_t maxSize = std::numeric_limits<std::size_t>::max()) : maxSize_(maxSize) {}

  // Takes in the next piece; returns the status after it. Once the status is
  // complete or malformed, further pieces are dropped.
  int32_t Feed(const char* data, std::size_t length);

  // The body (the rest of the text) when a content length was given, or null.
  const char* Body() const;
  // The start line's second token: a request's target, an answer's status
  // code. Valid once complete.
  const char* Target() const { return text.c_str() + targetPos; }
  // The value of the first header named `lowerCaseName`, or null.
  const char* HeaderValue(const char* lowerCaseName) const;
  // How many headers are named `lowerCaseName`.
  std::size_t HeaderCount(const char* lowerCaseName) const;
  // The last transfer coding is chunked: the message is complete at the end
  // of its headers, any content length is ignored, and the chunks that
  // follow are the caller's to read.
  bool chunked() const { return chunked_; }

  std::string text;
  uint32_t scanPos = 0;
  int32_t state = 0;
  uint32_t nameStart = 0;
  uint32_t contentLength = 0;
  uint32_t bodyStart = 0;
  uint32_t targetPos = 0;
  std::vector<uint32_t> headerNames;
  int32_t status = kIncomplete;

 private:
  void ScanHeaders();
  bool ReadContentLength();
  bool SplitStartLine();

  std::size_t maxSize_;
  uint32_t startLineEnd_ = 0;  // offset of the start line's CR
  bool chunked_ = false;
};

// The answer's status code is 200: the one test of an answer's success.
bool IsOkAnswer(const HttpMessage& answer);

}  // namespace palisard
