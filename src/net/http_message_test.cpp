#include "net/http_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace palisard {
namespace {

const std::string kRequest = "GET / HTTP/1.1\r\nHost: Example\r\n\r\n";

struct Parsed {
  int32_t status;
  std::string target;
  std::vector<std::string> names;
  uint32_t contentLength;
  std::string body;
};

// Feeds `text` in pieces cut at `cuts` (sorted offsets) and summarises.
Parsed FeedInPieces(const std::string& text, const std::vector<std::size_t>& cuts) {
  HttpMessage message;
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    message.Feed(text.data() + from, cut - from);
    from = cut;
  }
  message.Feed(text.data() + from, text.size() - from);
  Parsed parsed{message.status, "", {}, message.contentLength, ""};
  if (message.status == HttpMessage::kComplete) parsed.target = message.Target();
  for (uint32_t name : message.headerNames) parsed.names.emplace_back(message.text.c_str() + name);
  if (message.Body() != nullptr) parsed.body = message.Body();
  return parsed;
}

Parsed FeedWhole(const std::string& text) { return FeedInPieces(text, {}); }

void ExpectSame(const Parsed& a, const Parsed& b, const std::string& how) {
  EXPECT_EQ(a.status, b.status) << how;
  EXPECT_EQ(a.target, b.target) << how;
  EXPECT_EQ(a.names, b.names) << how;
  EXPECT_EQ(a.contentLength, b.contentLength) << how;
  EXPECT_EQ(a.body, b.body) << how;
}

TEST(HttpMessageTest, SimpleRequestIsCompleteWithLowerCaseHeaderName) {
  Parsed parsed = FeedWhole(kRequest);
  EXPECT_EQ(parsed.status, HttpMessage::kComplete);
  EXPECT_EQ(parsed.target, "/");
  EXPECT_EQ(parsed.names, std::vector<std::string>{"host"});
  EXPECT_EQ(parsed.contentLength, 0u);
}

TEST(HttpMessageTest, AnySplitGivesTheSameResult) {
  const std::string messages[] = {
      kRequest,
      "POST /report?5 HTTP/1.1\r\nContent-Length: 5\r\nX: y\r\n\r\nhello",
      "GET /x HTTP/1.1\r\nBad:header\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text\r\nCONTENT-LENGTH: 3\r\n\r\nabc",
      "GET /x\r\n\r\nA B",  // a blank after the headers is not the start line's
      "GET /y HTTP/1.1\r\nHost: \r\n\r\n",
  };
  std::mt19937 random(7);
  for (const std::string& text : messages) {
    Parsed whole = FeedWhole(text);
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < text.size(); ++i) everyByte.push_back(i);
    ExpectSame(FeedInPieces(text, everyByte), whole, "byte by byte: " + text);
    for (int round = 0; round < 50; ++round) {
      std::vector<std::size_t> cuts;
      for (std::size_t i = 1; i < text.size(); ++i) {
        if (random() % 4 == 0) cuts.push_back(i);
      }
      ExpectSame(FeedInPieces(text, cuts), whole, "random split: " + text);
    }
  }
}

TEST(HttpMessageTest, BodyIsWaitedForUpToItsContentLength) {
  HttpMessage message;
  std::string head = "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
  EXPECT_EQ(message.Feed(head.data(), head.size()), HttpMessage::kIncomplete);
  EXPECT_EQ(message.Feed("abc", 3), HttpMessage::kIncomplete);
  EXPECT_EQ(message.Feed("de", 2), HttpMessage::kComplete);
  ASSERT_NE(message.Body(), nullptr);
  EXPECT_EQ(std::string(message.Body(), 5), "abcde");
  EXPECT_STREQ(message.Target(), "/");
}

TEST(HttpMessageTest, MalformedAndIncompleteCases) {
  struct Case {
    const char* text;
    int32_t status;
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\nHost:x\r\n\r\n", HttpMessage::kMalformed},  // no blank after the colon
      {"GET / HTTP/1.1\rX\r\n\r\n", HttpMessage::kMalformed},         // CR without LF
      {"GET / HTTP/1.1\nHost: x\n\n", HttpMessage::kIncomplete},      // LF-only lines never end
      {"GETNOBLANK\r\n\r\n", HttpMessage::kMalformed},                // no blank in the start line
      {"GET /\r\nHost: x\r\n\r\n", HttpMessage::kComplete},           // target up to the CR
      {"GET / HTTP/1.1\r\nHost: \r\n\r\n", HttpMessage::kComplete},   // an empty value
      {"GET / HTTP/1.1\r\nHost: \r\n", HttpMessage::kIncomplete},
      // A content length is one plain decimal number that fits.
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\nabc", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: 4294967296\r\n\r\n", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: \r\n\r\n", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: 3 \r\n\r\nabc", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 2\r\n\r\nabc", HttpMessage::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 003\r\n\r\nabc", HttpMessage::kComplete},
  };
  for (const Case& c : cases) EXPECT_EQ(FeedWhole(c.text).status, c.status) << c.text;
  EXPECT_EQ(FeedWhole("GET /\r\nHost: x\r\n\r\n").target, "/");
}

TEST(HttpMessageTest, ResponseTargetIsTheStatusCode) {
  Parsed parsed = FeedWhole("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(parsed.status, HttpMessage::kComplete);
  EXPECT_EQ(parsed.target, "404");
}

TEST(HttpMessageTest, StatusIsFixedOnceReached) {
  HttpMessage message;
  message.Feed(kRequest.data(), kRequest.size());
  std::string before = message.text;
  EXPECT_EQ(message.Feed("more", 4), HttpMessage::kComplete);
  EXPECT_EQ(message.text, before);

  HttpMessage bad;
  EXPECT_EQ(bad.Feed("A\rB", 3), HttpMessage::kMalformed);
  before = bad.text;
  EXPECT_EQ(bad.Feed(kRequest.data(), kRequest.size()), HttpMessage::kMalformed);
  EXPECT_EQ(bad.text, before);
}

TEST(HttpMessageTest, GrowingPastTheSizeLimitIsMalformed) {
  HttpMessage message(64);
  std::string start = "GET /" + std::string(50, 'a');
  EXPECT_EQ(message.Feed(start.data(), start.size()), HttpMessage::kIncomplete);
  EXPECT_EQ(message.Feed(" HTTP/1.1\r\n\r\n", 13), HttpMessage::kMalformed);
  // A body announced past the limit is refused without waiting for it.
  HttpMessage announced(64);
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 40\r\n\r\n";
  EXPECT_EQ(announced.Feed(head.data(), head.size()), HttpMessage::kMalformed);
}

}  // namespace
}  // namespace palisard
