#include "web/pages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/console_output.h"

namespace palisard {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
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
  // Eve again, back before her old slot let go: a right-to-left mark, a
  // name not in ASCII, as long as the game's field holds without a blank.
  Occupy(state, 6, "\xE2\x80\xAEJos\xC3\xA9" + std::string(165, 'W'), 76561197960265728ULL, {198, 18, 0, 4});
  state.EditForTest([&](MatchData& d) {
    d.serverIp = {198, 18, 0, 1};
    d.hostId = 76561197960287930ULL;
    d.hostEnabled = true;
    d.votesNeeded = 3;
    d.players[4].votesAgainst = 1;
    for (std::size_t n = 0; n < 10; ++n) d.chatLog.Append("line " + std::to_string(n % 8));  // line k in slot k
  });
  // The script goes in whole, byte for byte as its file holds it.
  std::string expected = ReadFile(PALISARD_TEST_DATA_DIR "/main_page.html");
  const std::size_t script = expected.find("\t<script>") + 9;
  expected.insert(script, ReadFile(PALISARD_SOURCE_DIR "/src/web/console_page.js"));
  EXPECT_EQ(BuildMainPage(state), expected);
}

TEST(PagesTest, ResultPageMatchesTheExpectedBytesAndEscapesTheMessage) {
  EXPECT_EQ(BuildResultPage("Report successful"), ReadFile(PALISARD_TEST_DATA_DIR "/result_page.html"));
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
  EXPECT_EQ(Between(BuildMainPage(state), "<h3>Host:</h3>\n\t\t\t<h4>", "</h4>"), "<bdi>Host</bdi>");
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

// A name cannot close the isolation around it or turn the text after it
// around: no direction control reaches the page, the JSON or the terminal.
TEST(PagesTest, NamesReachNoScreenWithADirectionControl) {
  // U+202A..U+202E, U+2066..U+2069, U+200E, U+200F; U+061C and then a
  // U+202E that the removal of a U+2069 brings together.
  const std::string controls[] = {"\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD",
                                  "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7", "\xE2\x81\xA8",
                                  "\xE2\x81\xA9", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xD8\x9C\xE2\x80\xE2\x81\xA9\xAE"};
  for (const std::string& control : controls) {
    MatchState state;
    const std::string name = control + "Host" + control;
    Occupy(state, 0, name, 500);
    EXPECT_NE(BuildMainPage(state).find("profile</a> | <bdi>Host</bdi></h4>"), std::string::npos) << control;
    EXPECT_EQ(nlohmann::json::parse(BuildMatchJson(state, {}))["players"][0]["name"], "Host") << control;
    EXPECT_EQ(PrintableText(name), "Host") << control;
  }
}

TEST(PagesTest, MatchJsonHoldsValidTextIdsAsStringsAndTheBlocksWhileHosting) {
  MatchState state;
  Occupy(state, 0, std::string("^1Me\xff<\x01>"), 76561197960287930ULL, {198, 18, 0, 1});
  state.EditForTest([&](MatchData& d) {
    d.ownId = d.hostId = 76561197960287930ULL;
    d.serverIp = {198, 18, 0, 1};
    d.chatLog.Append("a &lt; <b> \"c\"");
    d.chatLog.Append(std::string(158, '<') + "\xC3\xA9");  // cut before the character
  });
  const std::vector<BlockRow> blocks = {{76561197960265728ULL, "^2Gone", 0xC6120005, "votes", 299}};
  const nlohmann::ordered_json match =
      nlohmann::ordered_json::parse(BuildMatchJson(state, blocks));  // throws if not valid
  EXPECT_EQ(match["host"]["id"], "76561197960287930");
  EXPECT_EQ(match["players"][0]["name"], "Me\xEF\xBF\xBD<\x01>");
  EXPECT_EQ(match["players"][0]["id"], "76561197960287930");
  EXPECT_EQ(match["chat"][6], "a &lt; <b> \"c\"");
  EXPECT_EQ(match["chat"][7], std::string(158, '<'));
  const std::string page = BuildMainPage(state, blocks);
  EXPECT_NE(page.find("<h4>a &amp;lt; &lt;b&gt; &quot;c&quot;</h4>"), std::string::npos);
  std::string escaped;
  for (int i = 0; i < 158; ++i) escaped += "&lt;";
  EXPECT_NE(page.find("<h4>" + escaped + "</h4>"), std::string::npos) << "escaped whole, after the cut";
  EXPECT_EQ(match["blocks"].dump(),
            R"([{"id":"76561197960265728","name":"Gone","address":"198.18.0.5","why":"votes","secondsLeft":299}])");
  EXPECT_NE(page.find("<a href=\"/unblock?76561197960265728\">unblock</a>"), std::string::npos);
  state.EditForTest([&](MatchData& d) { d.hostId = 5; });
  EXPECT_EQ(nlohmann::json::parse(BuildMatchJson(state, blocks))["blocks"].size(), 0u) << "not hosting";
}

}  // namespace
}  // namespace palisard
