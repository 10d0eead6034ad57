#include "net/http_client.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "helpers/http_client.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// One connection on a loopback port: the answer goes out in `pieces`, a
// pause between them, and the connection stays open until the client leaves,
// so a client that waits for more shows in the time it takes.
class ScriptedServer {
 public:
  ScriptedServer(std::vector<std::string> pieces, std::chrono::milliseconds pause) {
    EXPECT_TRUE(OpenTcpSocket(&listener_).ok());
    EXPECT_TRUE(BindAddress(listener_.get(), {0x7F000001, 0}).ok());
    EXPECT_TRUE(ListenForConnections(listener_.get()).ok());
    port_ = LocalPort(listener_.get()).value_or(0);
    thread_ = std::thread([this, pieces, pause] {
      Socket client;
      if (!AcceptConnection(listener_.get(), &client, nullptr).ok()) return;
      for (const std::string& piece : pieces) {
        if (!SendAll(client.get(), piece.data(), piece.size()).ok()) return;  // the client has gone
        std::this_thread::sleep_for(pause);
      }
      ReadUntilClosed(client.get(), 5000);
    });
  }
  ~ScriptedServer() { thread_.join(); }

  uint16_t port() const { return port_; }

 private:
  Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

struct Exchange {
  bool complete;
  std::string body;
  std::chrono::milliseconds took;
};

Exchange Ask(std::vector<std::string> pieces, std::chrono::milliseconds pause = 0ms) {
  ScriptedServer server(std::move(pieces), pause);
  HttpClientLimits limits;
  limits.answer = 1500ms;
  Exchange result{};
  const auto start = std::chrono::steady_clock::now();
  {
    Socket socket;
    EXPECT_TRUE(ConnectToFirst({0x7F000001}, server.port(), 1000ms, &socket).ok());
    HttpAnswer answer;
    result.complete = ExchangeHttp(socket.get(), "GET / HTTP/1.1\r\n\r\n", limits, &answer).ok();
    result.body = answer.body;
  }
  result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return result;
}

TEST(HttpClientTest, BodyFramingAndFailures) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string chunkedHead = ok + "Transfer-Encoding: Chunked\r\n\r\n";
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    bool complete;
    std::string body;
  };
  const Case cases[] = {
      {"exactly the announced bytes, NUL included",
       {ok + "Content-Length: 5\r\n\r\nab", std::string("\0cdEXTRA", 8)},
       true,
       std::string("ab\0cd", 5)},
      {"chunked in any case, ahead of the length",
       {ok + "Content-Length: 99\r\ntransfer-encoding: CHUNKED\r\n\r\n3\r\nabc\r\n", "2;x=1\r\nde\r\n0\r\n\r\n"},
       true,
       "abcde"},
      {"chunks split inside their data", {chunkedHead + "5\r\nab", "cde\r", "\n0\r\n\r\n"}, true, "abcde"},
      {"chunk data not followed by CRLF", {chunkedHead + "3\r\nabcX\r\n0\r\n\r\n"}, false, ""},
      {"size line without digits", {chunkedHead + "zz\r\nabc\r\n"}, false, ""},
      {"size past 64 bits, would wrap to 3", {chunkedHead + "10000000000000003\r\nabc\r\n0\r\n\r\n"}, false, ""},
      {"size line that never ends", {chunkedHead + std::string(300, '1')}, false, ""},
  };
  for (const Case& c : cases) {
    Exchange exchange = Ask(c.pieces, 20ms);
    EXPECT_EQ(exchange.complete, c.complete) << c.what;
    if (c.complete) {
      EXPECT_EQ(exchange.body, c.body) << c.what;
    }
    // Broken framing fails at once, not at the deadline.
    EXPECT_LT(exchange.took, 1000ms) << c.what;
  }
}

TEST(HttpClientTest, TrickleCannotExtendTheAnswerDeadline) {
  // Byte by byte: the whole answer, or a chunked body after its headers.
  for (std::string head : {"", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"}) {
    std::vector<std::string> bytes{head};
    for (char c : head.empty() ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab"
                               : "1a\r\n" + std::string(26, 'x') + "\r\n0\r\n\r\n") {
      bytes.emplace_back(1, c);
    }
    Exchange exchange = Ask(bytes, 100ms);
    EXPECT_FALSE(exchange.complete);
    EXPECT_GE(exchange.took, 1400ms);
    EXPECT_LT(exchange.took, 2500ms);
  }
}

}  // namespace
}  // namespace palisard
