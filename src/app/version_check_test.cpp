#include "app/version_check.h"

#include <gtest/gtest.h>

#include <future>

#include "helpers/fake_http_server.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

// Records the questions asked and the addresses opened.
class RecordingPrompt final : public UpdatePrompt {
 public:
  bool AskToDownload(const std::string& caption) override {
    captions.push_back(caption);
    return answerYes;
  }
  void OpenAddress(const std::string& address) override { opened.push_back(address); }

  bool answerYes = true;
  std::vector<std::string> captions;
  std::vector<std::string> opened;
};

class VersionCheckTest : public ::testing::Test {
 protected:
  // Serves `answer` as the version file and runs the check against it.
  std::string Check(const std::string& answer) {
    FakeHttpServer server([answer](const std::string&) { return answer; });
    VersionCheckOptions options;
    options.port = server.port();
    options.limits.answer = std::chrono::milliseconds(500);
    RecordingConsole console;
    CheckVersion("127.0.0.1", prompt, options, console);
    requests = server.requests();
    return console.Take();
  }

  RecordingPrompt prompt;
  std::vector<std::string> requests;
};

TEST_F(VersionCheckTest, UpToDate) {
  EXPECT_EQ(Check(FakeHttpServer::Ok("1.0.1\r\nhttp://example.test/palisard.zip")),
            "Checking version..\nVersion is up to date..\n");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET /version.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text\r\n\r\n");
  EXPECT_TRUE(prompt.captions.empty());
}

TEST_F(VersionCheckTest, AnyOtherVersionOffersTheDownload) {
  EXPECT_EQ(Check(FakeHttpServer::Ok("1.0.0\r\nhttps://example.test/new.zip")),
            "Checking version..\nNew version, 1.0.0, is available\n");
  EXPECT_EQ(prompt.captions, std::vector<std::string>{"New version, 1.0.0, is available"});
  EXPECT_EQ(prompt.opened, std::vector<std::string>{"https://example.test/new.zip"});

  prompt.answerYes = false;
  prompt.opened.clear();
  EXPECT_EQ(Check(FakeHttpServer::Ok("2.0\x1b]0;x\a\r\nhttp://example.test/")),
            "Checking version..\nNew version, 2.0]0;x, is available\n");
  EXPECT_TRUE(prompt.opened.empty());
}

TEST_F(VersionCheckTest, LineEndedByLfAloneLosesItsLastCharacter) {
  EXPECT_EQ(Check(FakeHttpServer::Ok("1.0.1\nhttp://example.test/")),
            "Checking version..\nNew version, 1.0., is available\n");
}

TEST_F(VersionCheckTest, ChunkedAnswerIsRead) {
  EXPECT_EQ(Check(FakeHttpServer::Chunked("1.0.1\r\nhttp://example.test/")),
            "Checking version..\nVersion is up to date..\n");
}

TEST_F(VersionCheckTest, ErrorsAndSilentCases) {
  EXPECT_EQ(Check(FakeHttpServer::Ok("not here", "404 Not Found")),
            "Checking version..\nError retrieving version information..\n");
  EXPECT_EQ(Check(FakeHttpServer::Ok("1.0.1")), "Checking version..\n") << "no LF: nothing said";
  EXPECT_EQ(Check(FakeHttpServer::Ok("\nhttp://example.test/")), "Checking version..\n");
  EXPECT_EQ(Check("garbage"), "Checking version..\nError retrieving version information..\n");
  EXPECT_TRUE(prompt.captions.empty());
}

TEST_F(VersionCheckTest, OnlyWebAddressesAreOpened) {
  std::string output = Check(FakeHttpServer::Ok("9.9.9\r\nfile:///etc/passwd"));
  EXPECT_NE(output.find("not a web address: file:///etc/passwd"), std::string::npos) << output;
  EXPECT_TRUE(prompt.opened.empty());
}

TEST_F(VersionCheckTest, UnreachableServer) {
  uint16_t closedPort;
  {
    FakeHttpServer gone([](const std::string&) { return std::string(); });
    closedPort = gone.port();
  }
  VersionCheckOptions options;
  options.port = closedPort;
  RecordingConsole console;
  CheckVersion("127.0.0.1", prompt, options, console);
  EXPECT_EQ(console.Take(), "Checking version..\nError finding version server..\n");
}

// A name server that never answers, or a server that never does: the check
// ends at its one deadline with the message of the step it was in.
TEST_F(VersionCheckTest, WholeCheckEndsAtItsDeadline) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  FakeHttpServer silent([](const std::string&) { return std::string(); }, FakeHttpServer::Mode::kSilent);
  const std::pair<Resolver, std::string> cases[] = {{[released](const std::string&, std::vector<uint32_t>*) {
                                                       released.wait();
                                                       return Result::Ok();
                                                     },
                                                     "Error finding version server..\n"},
                                                    {ResolveIpv4, "Error retrieving version information..\n"}};
  for (const auto& [resolve, printed] : cases) {
    RecordingConsole console;
    const auto start = std::chrono::steady_clock::now();
    CheckVersion("127.0.0.1", prompt, VersionCheckOptions{silent.port(), std::chrono::milliseconds(300), {}, resolve},
                 console);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << printed;
    EXPECT_EQ(console.Take(), "Checking version..\n" + printed);
  }
  release.set_value();
}

}  // namespace
}  // namespace palisard
