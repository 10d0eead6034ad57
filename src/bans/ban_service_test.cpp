#include "bans/ban_service.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "helpers/fake_clock.h"
#include "helpers/fake_http_server.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;
using Mode = FakeHttpServer::Mode;

constexpr uint64_t kOwn = 76561197960287930ULL;
constexpr uint64_t kReported = 76561197960265728ULL;

std::string ResultAnswer(const std::string& value) {
  return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<soap:Body><AddInfractionResponse xmlns=\"rosterhall\"><AddInfractionResult>" +
         value + "</AddInfractionResult></AddInfractionResponse></soap:Body></soap:Envelope>";
}

std::string BanListAnswer(const std::vector<std::pair<uint64_t, bool>>& statuses) {
  std::string inner;
  for (const auto& [id, banned] : statuses) {
    inner += "<BanStatus><CommunityId>" + std::to_string(id) + "</CommunityId><IsBanned>" +
             (banned ? "true" : "false") + "</IsBanned><BanScore>3</BanScore></BanStatus>";
  }
  return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<soap:Body><GetBanListResponse><GetBanListResult>" +
         inner + "</GetBanListResult></GetBanListResponse></soap:Body></soap:Envelope>";
}

// A loopback port that nothing listens on any more.
uint16_t ClosedPort() {
  FakeHttpServer gone([](const std::string&) { return std::string(); });
  return gone.port();
}

class BanServiceTest : public ::testing::Test {
 protected:
  // A ban service pointed at `server` on loopback.
  std::unique_ptr<BanService> ServiceFor(const FakeHttpServer& server) {
    BanService::Options options;
    options.port = server.port();
    options.limits.answer = 500ms;
    auto service = std::make_unique<BanService>(clock, options, console);
    service->SetHost("127.0.0.1");
    return service;
  }

  // Runs `call` and returns what it printed.
  template <typename Call>
  std::string Printed(Call call) {
    call();
    return console.Take();
  }

  FakeClock clock;
  RecordingConsole console;
};

TEST_F(BanServiceTest, HostIsKeptMasked) {
  BanService service(clock, BanService::Options{});
  service.SetHost("bans.example.test");
  EXPECT_EQ(service.GetHost(), "bans.example.test");
  EXPECT_EQ(MaskText(MaskText("abc", 0x5A), 0x5A), "abc");
  EXPECT_NE(MaskText("abc", 0x5A), "abc");
}

TEST_F(BanServiceTest, AddInfractionSendsTheExactRequestAndReadsTheResult) {
  FakeHttpServer server([](const std::string&) { return FakeHttpServer::Ok(ResultAnswer("true")); });
  auto service = ServiceFor(server);
  bool result = false;
  EXPECT_TRUE(service->AddInfraction(kOwn, kReported, &result).ok());
  EXPECT_TRUE(result);
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string document = AddInfractionDocument(kOwn, kReported);
  EXPECT_EQ(server.requests()[0],
            "POST /banservices/GetBanList.asmx HTTP/1.1\r\n"
            "Host: 127.0.0.1\r\n"
            "Content-Type: text/xml; charset=utf-8\r\n"
            "Content-Length: " +
                std::to_string(document.size()) +
                "\r\n"
                "SOAPAction: \"rosterhall/AddInfraction\"\r\n"
                "\r\n" +
                document);
}

TEST_F(BanServiceTest, ResultWordsOtherThanTrueAreFalse) {
  for (const char* word : {"True", "1", ""}) {
    FakeHttpServer server([word](const std::string&) { return FakeHttpServer::Ok(ResultAnswer(word)); });
    auto service = ServiceFor(server);
    bool result = true;
    EXPECT_EQ(service->AddInfraction(kOwn, kReported, &result).ok(), std::string(word) != "") << word;
    EXPECT_EQ(result, std::string(word) == "") << word;  // untouched when there was no text
  }
}

TEST_F(BanServiceTest, ChunkedAnswerIsDecodedAndAnswerWithoutLengthHasNoResult) {
  FakeHttpServer chunked([](const std::string&) { return FakeHttpServer::Chunked(ResultAnswer("true")); });
  bool result = false;
  EXPECT_TRUE(ServiceFor(chunked)->AddInfraction(kOwn, kReported, &result).ok());
  EXPECT_TRUE(result);

  FakeHttpServer noLength(
      [](const std::string&) { return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + ResultAnswer("true"); });
  result = false;
  EXPECT_FALSE(ServiceFor(noLength)->AddInfraction(kOwn, kReported, &result).ok());
  EXPECT_FALSE(result);
}

TEST_F(BanServiceTest, UnreachableRefusedAndSilentServices) {
  BanService::Options options;
  options.port = ClosedPort();
  BanService nobody(clock, options, console);
  nobody.SetHost("127.0.0.1");
  bool ignored = false;
  EXPECT_EQ(Printed([&] { EXPECT_FALSE(nobody.AddInfraction(kOwn, kReported, &ignored).ok()); }),
            "Couldn't find Ban server..\n");

  // The server takes the probe connection and then stops listening.
  FakeHttpServer once([](const std::string&) { return std::string(); }, Mode::kAcceptOnce);
  class ProbeThenGone : public BanService {
   public:
    ProbeThenGone(const Clock& clock, Options options, ConsoleSink& console, const FakeHttpServer& server)
        : BanService(clock, options, console), server_(server) {}
    Result FindServer() override {
      Result found = BanService::FindServer();
      while (server_.listening()) std::this_thread::sleep_for(1ms);
      return found;
    }

   private:
    const FakeHttpServer& server_;
  };
  options.port = once.port();
  ProbeThenGone refused(clock, options, console, once);
  refused.SetHost("127.0.0.1");
  EXPECT_EQ(
      Printed([&] { EXPECT_EQ(refused.AddInfraction(kOwn, kReported, &ignored).kind(), Result::Kind::kRefused); }),
      "Problem connecting to Ban Service\n");

  FakeHttpServer silent([](const std::string&) { return std::string(); }, Mode::kSilent);
  auto stalled = ServiceFor(silent);
  auto start = std::chrono::steady_clock::now();
  bool result = true;
  EXPECT_FALSE(stalled->AddInfraction(kOwn, kReported, &result).ok());
  EXPECT_TRUE(result) << "unchanged";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST_F(BanServiceTest, StreamingAsksOnceAMinuteForEveryoneTogether) {
  std::vector<std::pair<uint64_t, bool>> answer = {{1, false}, {2, true}, {3, false}, {42, true}};
  FakeHttpServer server([&](const std::string&) { return FakeHttpServer::Ok(BanListAnswer(answer)); });
  auto service = ServiceFor(server);

  EXPECT_TRUE(service->GetBanList({1, 2, 3}, 3).ok());
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_NE(server.requests()[0].find("SOAPAction: \"rosterhall/GetBanList\""), std::string::npos);
  EXPECT_NE(server.requests()[0].find("<string>3</string>"), std::string::npos);
  EXPECT_EQ(service->IsBanned(2), true);
  EXPECT_EQ(service->IsBanned(42), true) << "an id not asked for is stored too";

  clock.Advance(30'000);  // a player joins while the others are fresh
  (void)service->GetBanList({1, 2, 3, 4}, 4);
  EXPECT_EQ(server.requests().size(), 1u);
  clock.Advance(29'000);  // 59 s: still fresh
  (void)service->GetBanList({1, 2, 3, 4}, 4);
  EXPECT_EQ(server.requests().size(), 1u);
  clock.Advance(1'000);  // 60 s: stale
  (void)service->GetBanList({1, 2, 3, 4}, 4);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_NE(server.requests()[1].find("<string>4</string>"), std::string::npos);
}

TEST_F(BanServiceTest, StreamingOffSendsNothing) {
  FakeHttpServer server([](const std::string&) { return FakeHttpServer::Ok(BanListAnswer({{1, true}})); });
  auto service = ServiceFor(server);
  service->streaming = false;
  (void)service->GetBanList({1, 2}, 2);
  EXPECT_EQ(server.connections(), 0);
  EXPECT_FALSE(service->ShouldQuery(1));
}

TEST_F(BanServiceTest, FailedExchangeWaitsTenSecondsBeforeTheNext) {
  BanService::Options options;
  options.port = ClosedPort();
  BanService service(clock, options, console);
  service.SetHost("127.0.0.1");
  EXPECT_EQ(Printed([&] { (void)service.GetBanList({1}, 1); }), "Couldn't find Ban server..\n");
  clock.Advance(9'999);
  EXPECT_EQ(Printed([&] { (void)service.GetBanList({1}, 1); }), "");
  clock.Advance(1);
  EXPECT_EQ(Printed([&] { (void)service.GetBanList({1}, 1); }), "Couldn't find Ban server..\n");

  // Every answer that leaves the asked ids unanswered counts as a failure.
  const std::pair<const char*, std::string> unusable[] = {
      {"503", FakeHttpServer::Ok(BanListAnswer({{1, false}}), "503 Service Unavailable")},
      {"404 page", FakeHttpServer::Ok("<html><body>Not Found</body></html>", "404 Not Found")},
      {"fault",
       FakeHttpServer::Ok("<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
                          "<soap:Fault><faultcode>soap:Server</faultcode></soap:Fault></soap:Body></soap:Envelope>")},
      {"malformed", FakeHttpServer::Ok("<soap:Envelope><BanStatus><CommunityId>1</Comm")},
      {"empty list", FakeHttpServer::Ok(BanListAnswer({}))},
      {"others only", FakeHttpServer::Ok(BanListAnswer({{7, true}}))},
      {"no body", "HTTP/1.1 200 OK\r\n\r\n"},
  };
  for (const auto& [name, text] : unusable) {
    FakeHttpServer server([text = text](const std::string&) { return text; });
    auto asking = ServiceFor(server);
    for (int64_t step : {0, 100, 9'800, 99}) {
      clock.Advance(step);
      (void)asking->GetBanList({1}, 1);
    }
    EXPECT_EQ(server.requests().size(), 1u) << name;
    clock.Advance(1);
    (void)asking->GetBanList({1}, 1);
    EXPECT_EQ(server.requests().size(), 2u) << name;
  }
}

TEST_F(BanServiceTest, RefreshedEntryIsFreshForAnotherMinute) {
  FakeHttpServer server([](const std::string&) { return FakeHttpServer::Ok(BanListAnswer({{1, false}})); });
  auto service = ServiceFor(server);
  (void)service->GetBanList({1}, 1);
  clock.Advance(60'000);
  ASSERT_TRUE(service->ShouldQuery(1));
  (void)service->GetBanList({1}, 1);
  ASSERT_EQ(server.requests().size(), 2u);
  clock.Advance(59'000);
  EXPECT_FALSE(service->ShouldQuery(1)) << "the refresh restarts the minute";
  (void)service->GetBanList({1}, 1);
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(BanServiceTest, CacheForgetsTheLeastRecentlyAnsweredBeyondItsSize) {
  BanService::Options options;
  options.cacheCapacity = 3;
  BanService service(clock, options, console);
  for (uint64_t id : {1, 2, 3, 1, 4}) service.UpdateBanStatus(BanStatus{id, 0, id == 1, Stopwatch{}});
  EXPECT_EQ(service.IsBanned(1), true) << "refreshed, so younger than 2";
  EXPECT_EQ(service.IsBanned(2), std::nullopt);
  EXPECT_EQ(service.IsBanned(3), false);
  EXPECT_EQ(service.IsBanned(4), false);
  EXPECT_TRUE(service.ShouldQuery(2));
}

TEST_F(BanServiceTest, StalledNameResolutionGivesUpAtItsLimit) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  BanService::Options options;
  options.resolveLimit = 200ms;
  options.resolve = [released](const std::string&, std::vector<uint32_t>* addresses) {
    released.wait();
    *addresses = {0x7F000001};
    return Result::Ok();
  };
  BanService service(clock, options, console);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Printed([&] { EXPECT_EQ(service.FindServer().kind(), Result::Kind::kTimedOut); }),
            "Couldn't find Ban server..\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  release->set_value();
}

}  // namespace
}  // namespace palisard
