#include "web/pages.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/version.h"
#include "game/game_text.h"
#include "game/vote_book.h"

namespace palisard {
namespace {

#define PALISARD_PAGE_HEAD                                             \
  "<html>\n"                                                           \
  "<head>\n"                                                           \
  "<title>Palisard</title>\n"                                          \
  "<style>\n"                                                          \
  "\t* {\n"                                                            \
  "\t\tmargin: 0px;\n"                                                 \
  "\t\tfont-family: \"Trebuchet MS\", Arial, Helvetica, sans-serif;\n" \
  "\t\tcolor: #212226;\n"                                              \
  "\t}\n"                                                              \
  "\thtml, body {\n"                                                   \
  "\t\tbackground-color: #414446;\n"                                   \
  "\t}\n"                                                              \
  "\th2, h3 {\n"                                                       \
  "\t\ttext-shadow: 0px 0px 4px rgba(0, 0, 0, .4);\n"                  \
  "\t}\n"                                                              \
  "\th1 {\n"                                                           \
  "\t\tcolor: white;\n"                                                \
  "\t\tmargin: 15px auto 0px;\n"                                       \
  "\t\ttext-shadow: 0px 0px 5px rgba(0, 0, 0, .6);\n"                  \
  "\t}\n"                                                              \
  "\ta {\n"                                                            \
  "\t\ttext-decoration: none;\n"                                       \
  "\t}\n"                                                              \
  "\ta:link, a:visited {\n"                                            \
  "\t\ttext-decoration: none;\n"                                       \
  "\t\tcolor: #D10202;\n"                                              \
  "\t}\n"                                                              \
  "\ta:hover {\n"                                                      \
  "\t\ttext-decoration: none;\n"                                       \
  "\t\tcolor: #EC2222;\n"                                              \
  "\t\ttext-shadow: 0px 0px 4px rgba(0, 0, 0, .4);\n"                  \
  "\t}\n"                                                              \
  "\t#Box {\n"                                                         \
  "\t\twidth: 700px;\n"                                                \
  "\t\tmargin: 15px auto;\n"                                           \
  "\t\tbackground-color: white;\n"                                     \
  "\t\tpadding: 10px 25px;\n"                                          \
  "\t\t-moz-border-radius: 15px;\n"                                    \
  "\t\t-webkit-border-radius: 15px;\n"                                 \
  "\t\t-moz-box-shadow: 0px 0px 15px rgba(0, 0, 0, .6);\n"             \
  "\t\t-webkit-box-shadow: 0px 0px 15px rgba(0, 0, 0, .6);\n"          \
  "\t}\n"                                                              \
  "\t#Box > h2, #Box > h3, #Box > h4 {\n"                              \
  "\t\tcolor: #212226;\n"                                              \
  "\t}\n"                                                              \
  "\t#Bottom {\n"                                                      \
  "\t\twidth: 700px;\n"                                                \
  "\t\tcolor: white;\n"                                                \
  "\t\tmargin: 0px auto;\n"                                            \
  "\t\ttext-align: right;\n"                                           \
  "\t}\n"                                                              \
  "</style>\n"                                                         \
  "</head>\n"                                                          \
  "<body>\n"                                                           \
  "\t<center>\n"                                                       \
  "\t<h1>Palisard</h1>\n"                                              \
  "\t</center>\n"                                                      \
  "\t<div id=\"Box\">\n"

#define PALISARD_PAGE_TAIL        \
  "\t<div id=\"Bottom\">\n"       \
  "\t\tversion " PALISARD_VERSION \
  "\n"                            \
  "\t</div>\n"                    \
  "</body>\n"                     \
  "</html>\n"

constexpr const char kRowStart[] = "\t\t<h4>";
constexpr const char kKickPiece[] = "<a href=\"/votekick?%ID%\">kick</a> ( %VOTES% ) | ";
constexpr const char kChatRowStart[] = "\t\t\t<h4>";
constexpr const char kChatRowEnd[] = "</h4>\n";

// Replaces the first `placeholder` at or after `from` by `value` and returns
// the position after the inserted text: what was inserted is never searched
// again, so a name holding a placeholder's text stays as it is.
std::size_t FillAfter(std::string& text, std::size_t from, const std::string& placeholder, const std::string& value) {
  std::size_t at = text.find(placeholder, from);
  if (at == std::string::npos) return from;
  text.replace(at, placeholder.size(), value);
  return at + value.size();
}

void FillEvery(std::string& text, const std::string& placeholder, const std::string& value) {
  for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos; at += value.size()) {
    text.replace(at, placeholder.size(), value);
  }
}

std::string CleanName(std::string name) {
  CleanGameText(name, true);
  return name;
}

struct PlayerRow {
  uint64_t id;
  std::string name;
  int32_t votesAgainst;
};

// What the page shows, copied out of the match state under its lock.
struct PageData {
  std::string host = "No Host";
  bool hostEnabled = false;
  uint32_t votesNeeded = 0;
  std::vector<PlayerRow> rows;
  std::vector<std::string> chat;  // oldest first
};

PageData CopyPageData(const MatchData& state) {
  PageData data;
  data.hostEnabled = state.hostEnabled;
  data.votesNeeded = VotesNeededNow(state);
  if (const std::optional<HostSeat> host = WhoHosts(state)) {
    data.host = CleanName(state.clients[host->slot].Name()) + (state.hostEnabled ? " | Palisard Enabled" : "");
  }
  for (std::size_t i = 0; i < state.clients.size(); ++i) {
    uint64_t id = state.clients[i].CommunityId();
    if (id == 0) continue;
    data.rows.push_back({id, CleanName(state.clients[i].Name()), static_cast<int32_t>(VotesAgainstSlot(state, i))});
  }
  data.chat = state.chatLog.Lines();
  return data;
}

std::string PlayerRowHtml(const PlayerRow& row, bool hostEnabled, uint32_t votesNeeded) {
  std::string html = kRowStart;
  if (hostEnabled) html += kKickPiece;
  html += "<a href=\"/report?%ID%\">report</a> | <a href=\"http://";
  html += kProfileSiteHost;
  html += "/profiles/%ID%\">profile</a> | %NAME%</h4>\n";
  char number[64];
  std::snprintf(number, sizeof(number), "%" PRIu64, row.id);
  FillEvery(html, "%ID%", number);
  if (hostEnabled) {
    std::snprintf(number, sizeof(number), "%" PRId32 "/%" PRIu32, row.votesAgainst, votesNeeded);
    FillAfter(html, 0, "%VOTES%", number);
  }
  FillAfter(html, 0, "%NAME%", row.name);  // last: the name is never searched
  return html;
}

}  // namespace

const char* const mainPageTemplate = PALISARD_PAGE_HEAD
    "\t\t<h3>Host:</h3>\n"
    "\t\t\t<h4>%HOST%</h4>\n"
    "\t\t<h3>Clients:</h3>\n"
    "%CLIENTS%\t\t<h3>Chatlog:</h3>\n"
    "%CHATLOG%\t</div>\n" PALISARD_PAGE_TAIL;

const char* const resultPageTemplate = PALISARD_PAGE_HEAD
    "\t\t<center>\n"
    "\t\t<h4>%OUTPUT%</h4>\n"
    "\t\t<h4><a href=\"/\">go back</a></h4>\n"
    "\t\t</center>\n"
    "\t</div>\n" PALISARD_PAGE_TAIL;

#undef PALISARD_PAGE_HEAD
#undef PALISARD_PAGE_TAIL

std::string BuildMainPage(const MatchState& state) {
  PageData data = CopyPageData(state.Snapshot());
  std::string rows;
  for (const PlayerRow& row : data.rows) rows += PlayerRowHtml(row, data.hostEnabled, data.votesNeeded);
  std::string chat;
  for (const std::string& line : data.chat) chat += kChatRowStart + line + kChatRowEnd;

  // In template order, each search starting after the text inserted before.
  std::string page = mainPageTemplate;
  std::size_t cursor = FillAfter(page, 0, "%HOST%", data.host);
  cursor = FillAfter(page, cursor, "%CLIENTS%", rows);
  FillAfter(page, cursor, "%CHATLOG%", chat);
  return page;
}

std::string BuildResultPage(const std::string& message) {
  std::string page = resultPageTemplate;
  FillAfter(page, 0, "%OUTPUT%", EscapeHtml(message));
  return page;
}

std::string EscapeHtml(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace palisard
