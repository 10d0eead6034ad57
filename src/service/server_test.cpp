#include "service/server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "helpers/fake_clock.h"
#include "helpers/temp_dir.h"
#include "soap/soap_codec.h"
#include "common/utc_time.h"
#include "service/feed/feed_key_file.h"
#include "service/values/base64_text.h"
#include "store/ban_json.h"

namespace palisard {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

Result NoStore(std::unique_ptr<Store>*) { return Result::Unavailable("no database here"); }

ServeSettings Loopback() {
  ServeSettings settings;
  settings.listen = "127.0.0.1:0";
  settings.moderationListen = "127.0.0.1:0";
  settings.latestVersion = "1.2.3";
  settings.downloadUrl = "https://example.org/palisard.zip";
  settings.storeWorkers = 1;
  return settings;
}

std::unique_ptr<PublicServer> StartServer(const ServeSettings& settings, StoreWorkers::Opener opener = NoStore,
                                          const Clock& clock = SystemClock()) {
  std::unique_ptr<PublicServer> server;
  Result started = PublicServer::Start(settings, std::move(opener), clock, &server);
  EXPECT_TRUE(started.ok()) << started.text();
  return server;
}

// A connection from `from` (any loopback address) whose reads give up after
// five seconds, so no test waits for ever.
struct Client {
  Client(uint16_t port, const char* from = "127.0.0.1") : socket(context) {
    socket.open(tcp::v4());
    socket.bind(tcp::endpoint(asio::ip::make_address(from), 0));
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    const timeval limit{5, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  }
  void Send(const std::string& bytes) { asio::write(socket, asio::buffer(bytes)); }
  // Everything until the server closes.
  std::string ReadAll() {
    std::string received;
    boost::system::error_code error;
    asio::read(socket, asio::dynamic_buffer(received), error);
    return received;
  }

  asio::io_context context;
  tcp::socket socket;
};

std::string Post(const std::string& action, const std::string& body) {
  return "POST /banservices/GetBanList.asmx HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + action +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(PublicServerTest, RoutesAnswersAndFaults) {
  std::unique_ptr<PublicServer> server = StartServer(Loopback());
  const std::string getBanList = "SOAPAction: \"rosterhall/GetBanList\"\r\n";
  const struct {
    std::string request;
    const char* status;
    const char* part;  // a part of the answer
  } cases[] = {
      {"GET /version.txt HTTP/1.1\r\nConnection: close\r\n\r\n", "200",
       "\r\n\r\n1.2.3\r\nhttps://example.org/palisard.zip"},
      {"GET /banservices/GetBanList.asmx?WSDL HTTP/1.1\r\nHost: bans.example:8080\r\nConnection: close\r\n\r\n", "200",
       "location=\"http://bans.example:8080/banservices/GetBanList.asmx\""},
      {"GET /banservices/GetBanList.asmx?wsdl HTTP/1.0\r\nHost: <x>\r\n\r\n", "200", "location=\"http://localhost/"},
      {"GET /BANSERVICES/getbanlist.Asmx?WSDL HTTP/1.0\r\n\r\n", "200", "<wsdl:definitions"},
      {"GET / HTTP/1.0\r\n\r\n", "200", "<a href=\"/banservices/GetBanList.asmx?WSDL\">"},
      {"HEAD / HTTP/1.0\r\n\r\n", "405", "Allow: GET"},
      {"GET /player?id=+076561197960287930 HTTP/1.0\r\n\r\n", "303", "Location: /player/76561197960287930\r\n"},
      {"GET /player?id=7x HTTP/1.0\r\n\r\n", "400", "not a community id"},
      {"GET /other HTTP/1.1\r\nConnection: close\r\n\r\n", "404", ""},
      // The moderation pages are never on the public port.
      {"GET /queue HTTP/1.1\r\nConnection: close\r\n\r\n", "404", ""},
      {"POST /signin HTTP/1.1\r\nConnection: close\r\nContent-Length: 0\r\n\r\n", "404", ""},
      {"DELETE /version.txt HTTP/1.1\r\nConnection: close\r\n\r\n", "405", "Allow: GET"},
      {"GARBAGE\r\n\r\n", "400", ""},
      {"GET /feed/v1 HTTP/1.0\r\n\r\n", "404", "this community publishes no shared ban feed"},
      {Post(getBanList, "<soap:Envelope"), "500", "<faultcode>soap:Client</faultcode>"},
      {Post("SOAPAction: rosterhall/AddInfraction\r\n", GetBanListDocument({5})), "500", "soap:Client"},
      {Post("SOAPAction: \"rosterhall/Other\"\r\n", GetBanListDocument({5})), "500", "soap:Client"},
      {Post("Content-Encoding: Identity\r\n", GetBanListDocument({0})), "200", "<GetBanListResult />"},
      {Post("Content-Encoding: gzip\r\n", GetBanListDocument({0})), "415", "Accept-Encoding: identity\r\n"},
      {Post("", "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body/></e:Envelope>"), "500",
       "<faultcode>soap:VersionMismatch</faultcode>"},
      {Post("Expect: 100-continue\r\n", GetBanListDocument({0})), "100", "\r\n\r\nHTTP/1.1 200 OK"},
      // The store cannot be reached: a fault, at once.
      {Post("", GetBanListDocument({5})), "500", "<faultcode>soap:Server</faultcode>"},
      {Post(getBanList, AddInfractionDocument(1, 2)), "500", "soap:Client"},
      // Refused by its length alone, before any of the body is sent.
      {"POST /banservices/GetBanList.asmx HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", "413", ""},
  };
  for (const auto& c : cases) {
    Client client(server->port());
    client.Send(c.request);
    const std::string answer = client.ReadAll();
    EXPECT_EQ(answer.substr(0, 12),
              std::string(c.request.find("HTTP/1.0") == std::string::npos ? "HTTP/1.1 " : "HTTP/1.0 ") + c.status)
        << c.request << "\n"
        << answer;
    EXPECT_NE(answer.find(c.part), std::string::npos) << c.request << "\n" << answer;
  }
}

TEST(PublicServerTest, BodyOfTheLimitIsReadAndOneMoreByteRefused) {
  std::unique_ptr<PublicServer> server = StartServer(Loopback());
  for (std::size_t size : {std::size_t{64 * 1024}, std::size_t{64 * 1024 + 1}}) {
    Client client(server->port());
    client.Send(
        "POST /banservices/GetBanList.asmx HTTP/1.1\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string body(size, ' ');
    char chunk[32];
    std::snprintf(chunk, sizeof(chunk), "%zx\r\n", size);
    client.Send(chunk + body + "\r\n0\r\n\r\n");
    // Blanks alone are no SOAP request: the fault shows the body was read.
    EXPECT_EQ(client.ReadAll().substr(0, 12), size == 64 * 1024 ? "HTTP/1.1 500" : "HTTP/1.1 413") << size;
  }
}

TEST(PublicServerTest, HeaderDeadlineCoversTheWholeHeaderNotEachByte) {
  ServeSettings settings = Loopback();
  settings.headerDeadline = std::chrono::seconds(1);
  FakeClock clock;
  std::unique_ptr<PublicServer> server = StartServer(settings, NoStore, clock);
  Client client(server->port());
  // A byte every 200 ms would keep a per-read deadline from ever firing.
  const std::string header = "GET /version.txt HTTP/1.1\r\nX-Slow: " + std::string(20, 'x');
  boost::system::error_code error;
  std::size_t sent = 0;
  for (; sent < header.size() && !error; ++sent) {
    asio::write(client.socket, asio::buffer(header.substr(sent, 1)), error);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // read before the clock moves on
    clock.Advance(200);
  }
  EXPECT_LT(sent, header.size()) << "closed while the bytes still came";
  EXPECT_EQ(client.ReadAll(), "") << "closed without an answer";
}

TEST(PublicServerTest, CapsConnectionsFromOneAddress) {
  ServeSettings settings = Loopback();
  settings.connectionsPerAddress = 2;
  std::unique_ptr<PublicServer> server = StartServer(settings);
  const std::string version = "GET /version.txt HTTP/1.1\r\nConnection: close\r\n\r\n";
  auto first = std::make_unique<Client>(server->port());
  Client second(server->port());
  // The server had the first two accepted before it turns a third away.
  first->Send("GET /version.txt HTTP/1.1\r\n");
  second.Send("GET /version.txt HTTP/1.1\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Client third(server->port());
  boost::system::error_code ignored;
  asio::write(third.socket, asio::buffer(version), ignored);
  EXPECT_EQ(third.ReadAll(), "") << "one more than the cap";
  Client elsewhere(server->port(), "127.0.0.2");
  elsewhere.Send(version);
  EXPECT_EQ(elsewhere.ReadAll().substr(0, 12), "HTTP/1.1 200") << "another address has its own places";
  first.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Client again(server->port());
  again.Send(version);
  EXPECT_EQ(again.ReadAll().substr(0, 12), "HTTP/1.1 200") << "a closed connection gives its place back";
}

// Behind a load balancer every client comes from its address: the report
// counts against the client it names, and the balancer has no cap of its
// own. Anyone else's header is not believed.
TEST(PublicServerTest, TrustedProxyNamesTheClientAndIsNotCappedPerAddress) {
  TempDir dir;
  const std::string url = (dir.path() / "service.db").string();
  ServeSettings settings = Loopback();
  settings.connectionsPerAddress = 1;
  settings.trustedProxies = {"127.0.0.1"};
  std::unique_ptr<PublicServer> server =
      StartServer(settings, [url](std::unique_ptr<Store>* opened) { return OpenStore(url, opened); });
  auto report = [&](const char* from, uint64_t reporter, const char* forwarded) {
    Client client(server->port(), from);
    client.Send(
        Post(std::string("SOAPAction: rosterhall/AddInfraction\r\n") + forwarded, AddInfractionDocument(reporter, 5)));
    return client.ReadAll().substr(0, 12);
  };
  Client held(server->port());  // the balancer's one place, were it capped
  held.Send("GET /version.txt HTTP/1.1\r\n");
  EXPECT_EQ(report("127.0.0.1", 7, "X-Forwarded-For: 203.0.113.9, 10.1.1.1, 198.51.100.7\r\n"), "HTTP/1.1 200");
  EXPECT_EQ(report("127.0.0.1", 8, "X-Forwarded-For: 1.2.3.4\r\nX-Forwarded-For: 192.0.2.1 \r\n"), "HTTP/1.1 200");
  EXPECT_EQ(report("127.0.0.2", 9, "X-Forwarded-For: 192.0.2.1\r\n"), "HTTP/1.1 200");
  std::unique_ptr<Store> store;
  PlayerFile file;
  ASSERT_TRUE(OpenStore(url, &store).ok() && store->Player(5, &file).ok());
  std::vector<std::string> networks;
  for (const Report& stored : file.reports) networks.push_back(stored.network);
  std::sort(networks.begin(), networks.end());
  EXPECT_EQ(networks, (std::vector<std::string>{"127.0.0.0/24", "192.0.2.0/24", "198.51.100.0/24"}));
}

TEST(PublicServerTest, StoreThatHangsIsAnsweredWithAFaultWhenItsDeadlinePasses) {
  ServeSettings settings = Loopback();
  settings.storeDeadline = std::chrono::seconds(1);
  FakeClock clock;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::unique_ptr<PublicServer> server = StartServer(
      settings,
      [released](std::unique_ptr<Store>* store) {
        released.wait();
        return NoStore(store);
      },
      clock);
  Client client(server->port());
  client.Send(Post("", GetBanListDocument({5})));
  std::future<std::string> answer = std::async(std::launch::async, [&client] { return client.ReadAll(); });
  int64_t moved = 0;
  for (; moved < 5000 && answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready; moved += 50) {
    clock.Advance(50);
  }
  const std::string got = answer.get();
  EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 500");
  EXPECT_NE(got.find("soap:Server"), std::string::npos);
  EXPECT_GE(moved, 1000) << "not before the deadline";
  EXPECT_LE(moved, 2500) << "as the deadline passes on the clock";
  release.set_value();
}

TEST(PublicServerTest, AnswersFromTheSqliteStore) {
  TempDir dir;
  const std::string url = (dir.path() / "service.db").string();
  std::unique_ptr<Store> store;
  ASSERT_TRUE(OpenStore(url, &store).ok());
  const uint64_t banned = 76561197960265728ULL;
  const UnixTime now = SystemClock().UnixSeconds();
  Ban ban;
  ASSERT_TRUE(store->AddBan({banned, "aimbot", std::nullopt}, {"cli:root", "cli"}, now, &ban).ok());
  ServeSettings settings = Loopback();
  settings.storeWorkers = 2;
  settings.feedKey = (dir.path() / "feed.key").string();
  FeedKey key;
  ASSERT_TRUE(MakeFeedKey(&key).ok());
  ASSERT_TRUE(WriteNewFeedKey(settings.feedKey, key).ok());
  std::unique_ptr<PublicServer> server =
      StartServer(settings, [url](std::unique_ptr<Store>* opened) { return OpenStore(url, opened); });
  auto call = [&](const std::string& action, const std::string& body) {
    Client client(server->port());
    client.Send(Post("SOAPAction: \"rosterhall/" + action + "\"\r\n", body));
    const std::string answer = client.ReadAll();
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 200") << answer;
    return answer;
  };
  auto standings = [&](const std::vector<uint64_t>& ids) {
    std::vector<std::string> seen;
    for (const BanAnswer& status : ParseBanStatuses(call("GetBanList", GetBanListDocument(ids)))) {
      seen.push_back(std::to_string(status.communityId) + (status.isBanned ? " banned " : " free ") +
                     std::to_string(status.banScore));
    }
    return seen;
  };
  EXPECT_EQ(standings({5, banned}), (std::vector<std::string>{"5 free 0", std::to_string(banned) + " banned 0"}));
  EXPECT_EQ(ParseAddInfractionResult(call("AddInfraction", AddInfractionDocument(7, 5))), false);
  EXPECT_EQ(ParseAddInfractionResult(call("AddInfraction", AddInfractionDocument(7, banned))), true);
  // Refused, counted, not stored: the scores stay as they were.
  EXPECT_EQ(ParseAddInfractionResult(call("AddInfraction", AddInfractionDocument(0, 5))), false);
  EXPECT_EQ(ParseAddInfractionResult(call("AddInfraction", AddInfractionDocument(5, 5))), false);
  EXPECT_EQ(ParseAddInfractionResult(call("AddInfraction", AddInfractionDocument(7, 5))), false) << "once a day";
  EXPECT_EQ(standings({5}), std::vector<std::string>{"5 free 1"}) << "one network, 127.0.0.0/24";
  ASSERT_TRUE(store->Prune(0, 0, now + 2 * kRefusalWindow).ok());
  std::vector<AuditEntry> refused;
  ASSERT_TRUE(store->Audit({"", 0, "report-refused"}, 10, &refused).ok());
  std::vector<std::string> counted;
  for (const AuditEntry& entry : refused) {
    counted.push_back(entry.actor + " " + nlohmann::json::parse(entry.after)["refusals"].dump());
  }
  std::sort(counted.begin(), counted.end());
  EXPECT_EQ(counted, (std::vector<std::string>{"invalid 2", "pair limit 1"}));

  // The feed: its one change, signed, and a copy still good is not sent again.
  auto get = [&](const std::string& target, const std::string& headers = "") {
    Client client(server->port());
    client.Send("GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
    return client.ReadAll();
  };
  auto header = [](const std::string& answer, const std::string& name) {
    const std::size_t at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::string();
    const std::size_t from = at + name.size() + 4;
    return answer.substr(from, answer.find("\r\n", from) - from);
  };
  auto body = [](const std::string& answer) { return answer.substr(answer.find("\r\n\r\n") + 4); };
  EXPECT_EQ(body(get("/feed/v1")), R"({"key":")" + FeedPublicKey(key) + R"(","newest":1,"pageSize":1000})");
  const std::string page = get("/feed/v1/pages/0");
  EXPECT_EQ(header(page, "Content-Type"), "application/x-ndjson");
  EXPECT_EQ(body(page), R"({"seq":1,"change":"made","ref":")" + ban.ref + R"(","playerId":")" +
                            std::to_string(banned) + R"(","at":")" + FormatUtcTime(now) +
                            R"(","until":null,"reason":"aimbot"})" + "\n");
  const std::string minisig = body(get("/feed/v1/pages/0.minisig"));
  EXPECT_EQ(minisig.rfind("untrusted comment: ", 0), 0u) << minisig;
  EXPECT_EQ(header(page, "Signature"), Base64Text(minisig));
  const std::string tag = header(page, "ETag");
  EXPECT_EQ(get("/feed/v1/pages/0", "If-None-Match: " + tag + "\r\n").substr(0, 12), "HTTP/1.0 304");
  EXPECT_EQ(get("/feed/v1/pages/0", "If-None-Match: \"other\"\r\n").substr(0, 12), "HTTP/1.0 200");
  for (const char* past : {"/feed/v1/pages/1", "/feed/v1/pages/1.minisig", "/feed/v1/pages/00", "/feed/v1/pages/-1"}) {
    EXPECT_EQ(get(past).substr(0, 12), "HTTP/1.0 404") << past;
  }
}

}  // namespace
}  // namespace palisard
