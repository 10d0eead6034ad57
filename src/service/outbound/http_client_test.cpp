#include "service/outbound/http_client.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <optional>
#include <string>
#include <thread>

namespace palisard {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// A receiver on a loopback port for one connection: it reads the request,
// then sends `answer`, or without one says nothing until the client leaves.
class Receiver {
 public:
  explicit Receiver(std::optional<std::string> answer)
      : acceptor_(context_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)), answer_(std::move(answer)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~Receiver() { Finish(); }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(acceptor_.local_endpoint().port()) + "/hook"; }
  // What came, once the client is done; empty when nobody asked.
  std::string Request() {
    Finish();
    return request_;
  }

 private:
  void Finish() {
    if (!thread_.joinable()) return;
    tcp::socket wake(context_);  // ends a wait for a client that never came
    boost::system::error_code ignored;
    wake.connect(acceptor_.local_endpoint(), ignored);
    wake.close();
    thread_.join();
  }

  void Serve() {
    boost::system::error_code error;
    tcp::socket socket(context_);
    acceptor_.accept(socket, error);
    // Every request here is Post()'s, whose body ends the first "}".
    asio::read_until(socket, asio::dynamic_buffer(request_), "}", error);
    if (answer_ && !error) asio::write(socket, asio::buffer(*answer_), error);
    char scrap[256];
    while (!answer_ && !error) socket.read_some(asio::buffer(scrap), error);
  }

  asio::io_context context_;
  tcp::acceptor acceptor_;
  std::optional<std::string> answer_;
  std::string request_;
  std::thread thread_;
};

std::string Answer(const std::string& head, const std::string& body) {
  return "HTTP/1.1 " + head + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

OutboundSettings OnLoopback() {
  OutboundSettings settings;
  settings.allowPrivate = true;
  settings.limits.keptBody = 4096;
  return settings;
}

OutboundRequest Post(const std::string& url) {
  return {"POST", url, {{"webhook-id", "msg_1"}}, R"({"type":"ban.created"})"};
}

TEST(OutboundHttpTest, TakesAnyStatusFollowsNoRedirectAndKeepsABoundedBody) {
  const std::string full(4096, 'x');
  const struct {
    std::string answer;
    long status;
    const char* header;
    const char* value;  // nullptr: the header is not kept
    std::size_t bodySize;
    bool cut;
  } cases[] = {
      {Answer("503 Service Unavailable\r\nRetry-After: 120", "busy"), 503, "retry-after", "120", 4, false},
      {Answer("302 Found\r\nLocation: http://127.0.0.1:9/elsewhere", ""), 302, "location",
       "http://127.0.0.1:9/elsewhere", 0, false},
      {"HTTP/1.1 100 Continue\r\nX-Early: 1\r\n\r\n" + Answer("429 Too Many Requests", "{}"), 429, "x-early", nullptr,
       2, false},
      {Answer("200 OK", full), 200, "content-length", "4096", 4096, false},
      {Answer("200 OK", full + "y"), 200, "content-length", "4097", 4096, true},
  };
  for (const auto& c : cases) {
    Receiver receiver(c.answer);
    const OutboundRequest request = Post(receiver.Url());
    OutboundAnswer answer;
    const Result sent = SendOutboundRequest(request, OnLoopback(), &answer);
    const std::string row = c.answer.substr(0, 40);
    ASSERT_TRUE(sent.ok()) << row << ": " << sent.text();
    EXPECT_EQ(answer.status, c.status) << row;
    EXPECT_EQ(answer.Header(c.header), c.value ? std::optional<std::string>(c.value) : std::nullopt) << row;
    EXPECT_EQ(answer.body.size(), c.bodySize) << row;
    EXPECT_EQ(answer.bodyCut, c.cut) << row;
    const std::string received = receiver.Request();
    EXPECT_TRUE(received.starts_with("POST /hook HTTP/1.1\r\n")) << received;
    EXPECT_NE(received.find("\r\nwebhook-id: msg_1\r\n"), std::string::npos) << received;
    EXPECT_EQ(received.find("Expect:"), std::string::npos) << received;
    EXPECT_TRUE(received.ends_with("\r\n\r\n" + request.body)) << received;
  }
}

TEST(OutboundHttpTest, GivesUpOnASilentReceiverAtTheTotalLimit) {
  Receiver receiver(std::nullopt);
  OutboundSettings settings = OnLoopback();
  settings.limits.total = std::chrono::milliseconds(300);
  OutboundAnswer answer;
  const auto start = std::chrono::steady_clock::now();
  const Result sent = SendOutboundRequest(Post(receiver.Url()), settings, &answer);
  EXPECT_EQ(sent.kind(), Result::Kind::kTimedOut) << sent.text();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(OutboundHttpTest, RefusesWhatItMustNotSend) {
  OutboundRequest injected = Post("http://203.0.113.5/hook");
  injected.headers = {{"webhook-id", "msg_1\r\nX-Injected: 1"}};
  const struct {
    OutboundRequest request;
    Result::Kind kind;
    const char* text;
  } cases[] = {
      // The name is checked where it is connected to, whatever it resolved to before.
      {Post("http://localhost:9/hook"), Result::Kind::kRefused,
       "is a loopback address; set webhook-allow-private to allow it"},
      {injected, Result::Kind::kInvalid, "webhook-id"},
      {Post("file:///etc/passwd"), Result::Kind::kInvalid, "not an http:// or https:// URL"},
  };
  for (const auto& c : cases) {
    OutboundAnswer answer;
    const Result sent = SendOutboundRequest(c.request, OutboundSettings(), &answer);
    EXPECT_EQ(sent.kind(), c.kind) << c.request.url << ": " << sent.text();
    EXPECT_NE(sent.text().find(c.text), std::string::npos) << c.request.url << ": " << sent.text();
  }
}

}  // namespace
}  // namespace palisard
