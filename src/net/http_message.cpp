#include "net/http_message.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace palisard {
namespace {

enum Action : uint32_t {
  kLower = 0x01,
  kTerminate = 0x02,
  kMarkName = 0x08,
  kRecordHeader = 0x20,
  kMarkBody = 0x40,
};

constexpr int32_t kAnyByte = 256;
constexpr int32_t kEndOfHeaders = 11;
constexpr int32_t kMalformedState = 12;

struct TransitionRow {
  int32_t from;
  int32_t character;
  int32_t next;
  uint32_t actions;
};

// Lines end in CR LF; a header is a name, ":", one blank and a value up to the
// next CR; an empty line ends the headers.
constexpr TransitionRow kTransitions[] = {
    {0, '\r', 1, kTerminate},                  // end of the start line
    {0, kAnyByte, 0, 0},                       // in the start line
    {1, '\n', 2, 0},                           //
    {2, '\r', 3, 0},                           // empty line right after the start line
    {2, kAnyByte, 4, kLower | kMarkName},      // first header name begins
    {3, '\n', kEndOfHeaders, kMarkBody},       //
    {4, ':', 5, kTerminate},                   // end of the name
    {4, kAnyByte, 4, kLower},                  // in the name
    {5, ' ', 6, 0},                            // the one blank after the colon
    {6, '\r', 8, kTerminate | kRecordHeader},  // an empty value
    {6, kAnyByte, 7, 0},                       // first byte of the value
    {7, '\r', 8, kTerminate | kRecordHeader},  // end of the value
    {7, kAnyByte, 7, 0},                       // in the value
    {8, '\n', 9, 0},                           //
    {9, '\r', 10, 0},                          // the empty line
    {9, kAnyByte, 4, kLower | kMarkName},      // a further header name begins
    {10, '\n', kEndOfHeaders, kMarkBody},      //
    {12, kAnyByte, 12, 0},                     // malformed stays malformed
};

}  // namespace

int32_t HttpMessage::Feed(const char* data, std::size_t length) {
  if (status != kIncomplete) return status;
  if (text.size() + length > maxSize_) {
    status = kMalformed;
    return status;
  }
  text.append(data, length);
  if (state < kEndOfHeaders) ScanHeaders();
  if (state == kMalformedState) {
    status = kMalformed;
  } else if (state == kEndOfHeaders &&
             (contentLength == 0 || static_cast<uint32_t>(text.size() - bodyStart) >= contentLength)) {
    status = SplitStartLine() ? kComplete : kMalformed;
  }
  return status;
}

const char* HttpMessage::Body() const { return contentLength != 0 ? text.c_str() + bodyStart : nullptr; }

void HttpMessage::ScanHeaders() {
  const uint32_t end = static_cast<uint32_t>(text.size());
  for (uint32_t p = scanPos; p < end; ++p) {
    const int32_t byte = static_cast<signed char>(text[p]);
    const TransitionRow* row = nullptr;
    for (const TransitionRow& candidate : kTransitions) {
      if (candidate.from == state && (candidate.character == byte || candidate.character == kAnyByte)) {
        row = &candidate;
        break;
      }
    }
    if (row == nullptr) {
      state = kMalformedState;
      continue;
    }
    if (state == 0 && row->next == 1) startLineEnd_ = p;
    if (row->actions & kLower) text[p] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[p])));
    if (row->actions & kTerminate) text[p] = '\0';
    if (row->actions & kMarkName) nameStart = p;
    if (row->actions & kMarkBody) bodyStart = p + 1;
    if (row->actions & kRecordHeader) headerNames.push_back(nameStart);
    state = row->next;
    if (state == kEndOfHeaders) {
      if (!ReadContentLength()) state = kMalformedState;
      break;
    }
  }
  scanPos = end;
}

const char* HttpMessage::HeaderValue(const char* lowerCaseName) const {
  for (uint32_t name : headerNames) {
    // The value follows the NUL that replaced the colon, and the blank.
    if (std::strcmp(text.c_str() + name, lowerCaseName) == 0)
      return text.c_str() + name + std::strlen(lowerCaseName) + 2;
  }
  return nullptr;
}

std::size_t HttpMessage::HeaderCount(const char* lowerCaseName) const {
  std::size_t count = 0;
  for (uint32_t name : headerNames) count += std::strcmp(text.c_str() + name, lowerCaseName) == 0 ? 1 : 0;
  return count;
}

namespace {

// True when the last transfer coding named is "chunked", in any case.
bool EndsInChunked(const char* value) {
  std::string codings(value);
  while (!codings.empty() && (codings.back() == ' ' || codings.back() == '\t')) codings.pop_back();
  for (char& c : codings) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = codings.size() < 7 ? std::string::npos : codings.size() - 7;
  if (at == std::string::npos || codings.compare(at, 7, "chunked") != 0) return false;
  return at == 0 || codings[at - 1] == ',' || codings[at - 1] == ' ' || codings[at - 1] == '\t';
}

}  // namespace

bool HttpMessage::ReadContentLength() {
  // A chunked body ends where its last chunk says, whatever length is
  // announced beside it; reading the chunks is the caller's.
  if (const char* encoding = HeaderValue("transfer-encoding")) {
    if (EndsInChunked(encoding)) {
      chunked_ = true;
      return true;
    }
  }
  // Every "content-length" header must hold the same plain decimal number: a
  // sign, a blank, an overflow or a second, different value would let two
  // readers of one message disagree on where it ends.
  bool seen = false;
  for (uint32_t name : headerNames) {
    if (std::strcmp(text.c_str() + name, "content-length") != 0) continue;
    const char* value = text.c_str() + name + sizeof("content-length") + 1;
    if (*value == '\0') return false;
    uint64_t length = 0;
    for (; *value != '\0'; ++value) {
      if (*value < '0' || *value > '9') return false;
      length = length * 10 + static_cast<uint64_t>(*value - '0');
      if (length > std::numeric_limits<uint32_t>::max()) return false;
    }
    if (seen && length != contentLength) return false;
    seen = true;
    contentLength = static_cast<uint32_t>(length);
  }
  // A body that cannot fit is refused now rather than waited for.
  return contentLength <= maxSize_ && bodyStart <= maxSize_ - contentLength;
}

bool HttpMessage::SplitStartLine() {
  // Only the start line is searched, so the result does not depend on how
  // the bytes arrived. Its end (the CR) is already a NUL, so a start line
  // with a single blank yields its second token all the same.
  const std::size_t end = startLineEnd_;
  std::size_t first = text.find(' ');
  if (first >= end) return false;
  std::size_t second = text.find(' ', first + 1);
  if (second < end) text[second] = '\0';
  text[first] = '\0';
  targetPos = static_cast<uint32_t>(first + 1);
  return true;
}

bool IsOkAnswer(const HttpMessage& answer) {
  return answer.status == HttpMessage::kComplete && std::strcmp(answer.Target(), "200") == 0;
}

}  // namespace palisard
