#include "web/pages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace palisard {
namespace {

std::string ReadTestFile(const std::string& name) {
  std::ifstream file(std::string(PALISARD_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void Occupy(MatchState& state, std::size_t slot, const std::string& name, uint64_t id, Ipv4Bytes address = {}) {
  state.EditForTest([&](MatchData& d) {
    d.clients[slot].SetName(name);
    d.clients[slot].SetCommunityId(id);
    d.clients[slot].SetAddress(address);
    d.SyncPlayerRecords();
  });
}

std::string Between(const std::string& page, const std::string& from, const std::string& to) {
  std::size_t start = page.find(from);
  if (start == std::string::npos) return "<missing>";
  start += from.size();
  return page.substr(start, page.find(to, start) - start);
}

TEST(PagesTest, MainPageOfAKnownMatchMatchesTheExpectedBytes) {
  MatchState state;
  Occupy(state, 0, "^1Boss<1>", 76561197960287930ULL, {198, 18, 0, 1});
  Occupy(state, 4, "Eve %NAME% %CHATLOG%", 76561197960265728ULL, {198, 18, 0, 4});
  state.EditForTest([&](MatchData& d) {
    d.serverIp = {198, 18, 0, 1};
    d.hostId = 76561197960287930ULL;
    d.hostEnabled = true;
    d.votesNeeded = 3;
    d.players[4].votesAgainst = 1;
    for (std::size_t n = 0; n < 10; ++n) d.chatLog.Append("line " + std::to_string(n % 8));  // line k in slot k
  });
  // The inline script is the page's own code, not its layout: only its place is compared.
  std::string page = BuildMainPage(state);
  const std::size_t script = page.find("\t<script>\n") + 10;
  page.erase(script, page.find("\t</script>") - script);
  EXPECT_EQ(page, ReadTestFile("main_page.html"));
}

TEST(PagesTest, ResultPageMatchesTheExpectedBytesAndEscapesTheMessage) {
  EXPECT_EQ(BuildResultPage("Report successful"), ReadTestFile("result_page.html"));
  std::string page = BuildResultPage("<script>\"x\" & y</script>");
  EXPECT_EQ(Between(page, "\t\t<h4>", "</h4>"), "&lt;script&gt;&quot;x&quot; &amp; y&lt;/script&gt;");
}

TEST(PagesTest, EmptyMatchShowsNoHostNoRowsAndEightEmptyChatRows) {
  MatchState state;
  std::string page = BuildMainPage(state);
  EXPECT_EQ(Between(page, "<h3>Host:</h3>\n\t\t\t<h4>", "</h4>"), "No Host");
  EXPECT_EQ(Between(page, "<h3>Clients:</h3>\n", "\t\t<h3>Chatlog:</h3>"), "");
  std::string emptyRows;
  for (int i = 0; i < 8; ++i) emptyRows += "\t\t\t<h4></h4>\n";
  EXPECT_EQ(Between(page, "<h3>Chatlog:</h3>\n", "\t\t<div id=\"Blocked\">"), emptyRows);
  EXPECT_EQ(Between(page, "<div id=\"Blocked\">\n", "</div>"), "\t\t<h3>Blocked:</h3>\n\t\t")
      << "both ids are still 0: this copy counts as the host, as its admin port does";
}

TEST(PagesTest, HostLineNeedsServerAndHostId) {
  MatchState state;
  Occupy(state, 2, "Host", 500, {198, 18, 0, 1});
  state.EditForTest([&](MatchData& d) { d.hostId = 500; });
  EXPECT_EQ(Between(BuildMainPage(state), "<h3>Host:</h3>\n\t\t\t<h4>", "</h4>"), "No Host") << "no server yet";
  state.EditForTest([&](MatchData& d) { d.serverIp = {198, 18, 0, 1}; });
  EXPECT_EQ(Between(BuildMainPage(state), "<h3>Host:</h3>\n\t\t\t<h4>", "</h4>"), "Host");
  state.EditForTest([&](MatchData& d) { d.hostId = 0; });
  EXPECT_EQ(Between(BuildMainPage(state), "<h3>Host:</h3>\n\t\t\t<h4>", "</h4>"), "No Host");
}

TEST(PagesTest, KickLinksOnlyWhenTheHostRunsPalisard) {
  MatchState state;
  Occupy(state, 0, "A", 18446744073709551615ULL);
  std::string page = BuildMainPage(state);
  EXPECT_EQ(page.find("/votekick?18446744073709551615"), std::string::npos);
  EXPECT_NE(page.find("/report?18446744073709551615\""), std::string::npos);
  EXPECT_NE(page.find("/profiles/18446744073709551615\""), std::string::npos);
  state.EditForTest([&](MatchData& d) {
    d.hostId = 7;  // another player hosts: the count is the host's
    d.hostEnabled = true;
    d.votesNeeded = 2;
  });
  page = BuildMainPage(state);
  EXPECT_NE(page.find("<a href=\"/votekick?18446744073709551615\">kick</a> ( 0/2 ) | "), std::string::npos);
}

TEST(PagesTest, MatchJsonHoldsValidTextIdsAsStringsAndTheBlocksWhileHosting) {
  MatchState state;
  Occupy(state, 0, std::string("^1Me\xff<\x01>"), 76561197960287930ULL, {198, 18, 0, 1});
  state.EditForTest([&](MatchData& d) {
    d.ownId = d.hostId = 76561197960287930ULL;
    d.serverIp = {198, 18, 0, 1};
    d.chatLog.Append("a &amp;lt; &lt;b&gt; &quot;c&quot;");
  });
  const std::vector<BlockRow> blocks = {{76561197960265728ULL, "^2Gone", 0xC6120005, "votes", 299}};
  const nlohmann::ordered_json match =
      nlohmann::ordered_json::parse(BuildMatchJson(state, blocks));  // throws if not valid
  EXPECT_EQ(match["host"]["id"], "76561197960287930");
  EXPECT_EQ(match["players"][0]["name"], "Me\xEF\xBF\xBD<\x01>");
  EXPECT_EQ(match["players"][0]["id"], "76561197960287930");
  EXPECT_EQ(match["chat"][7], "a &lt; <b> \"c\"");
  EXPECT_EQ(match["blocks"].dump(),
            R"([{"id":"76561197960265728","name":"Gone","address":"198.18.0.5","why":"votes","secondsLeft":299}])");
  EXPECT_NE(BuildMainPage(state, blocks).find("<a href=\"/unblock?76561197960265728\">unblock</a>"), std::string::npos);
  state.EditForTest([&](MatchData& d) { d.hostId = 5; });
  EXPECT_EQ(nlohmann::json::parse(BuildMatchJson(state, blocks))["blocks"].size(), 0u) << "not hosting";
}

}  // namespace
}  // namespace palisard
