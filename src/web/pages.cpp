#include "web/pages.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/duration_text.h"
#include "common/html_text.h"
#include "common/ipv4.h"
#include "common/version.h"
#include "game/game_text.h"
#include "game/vote_book.h"
#include "web/console_page_script.h"
#include "web/routes.h"

namespace palisard {
namespace {

#define PALISARD_PAGE_HEAD                                             \
  "<!DOCTYPE html>\n"                                                  \
  "<html>\n"                                                           \
  "<head>\n"                                                           \
  "<meta charset=\"utf-8\">\n"                                         \
  "<title>Palisard</title>\n"                                          \
  "<meta name=\"viewport\" "                                           \
  "content=\"width=device-width, initial-scale=1\">\n"                 \
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
  "\t\tmax-width: calc(100% - 60px);\n"                                \
  "\t\toverflow-wrap: break-word;\n"                                   \
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
  "\t\tmax-width: calc(100% - 60px);\n"                                \
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

#define PALISARD_PAGE_BOTTOM      \
  "\t<div id=\"Bottom\">\n"       \
  "\t\tversion " PALISARD_VERSION \
  "\n"                            \
  "\t</div>\n"

#define PALISARD_PAGE_END \
  "</body>\n"             \
  "</html>\n"

constexpr const char kRowStart[] = "\t\t<h4>";
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

// A name from the game as a page shows it: isolated, so that a direction
// mark in it turns none of the page's own text around.
std::string HtmlName(const std::string& name) { return "<bdi>" + EscapeHtml(CleanGameText(name)) + "</bdi>"; }

struct PlayerRow {
  std::size_t slot;
  uint64_t id;
  std::string name;  // as the game holds it
  int32_t votesAgainst;
};

// What the page shows, copied out of the match state under its lock.
struct PageData {
  std::optional<HostSeat> host;
  std::string hostName;  // as the game holds it
  bool hostEnabled = false;
  bool hosting = false;
  uint32_t votesNeeded = 0;
  std::vector<PlayerRow> rows;
  std::vector<std::string> chat;  // oldest first, as the chat log keeps them
};

PageData CopyPageData(const MatchData& state) {
  PageData data;
  data.hostEnabled = state.hostEnabled;
  data.hosting = IsHosting(state);
  data.votesNeeded = VotesNeededNow(state);
  data.host = WhoHosts(state);
  if (data.host) data.hostName = state.clients[data.host->slot].Name();
  for (std::size_t i = 0; i < state.clients.size(); ++i) {
    uint64_t id = state.clients[i].CommunityId();
    if (id == 0) continue;
    data.rows.push_back({i, id, state.clients[i].Name(), static_cast<int32_t>(VotesAgainstSlot(state, i))});
  }
  data.chat = state.chatLog.Lines();
  return data;
}

std::string BlockRowHtml(const BlockRow& block) {
  const std::string id = std::to_string(block.id);
  return "\t\t<h4><a href=\"" + std::string(kUnblockRoute) + id + "\">unblock</a> | " + id + " | " +
         EscapeHtml(block.why) + " | " + MinutesAndSeconds(block.secondsLeft) + " left | " + HtmlName(block.name) +
         "</h4>\n";
}

std::string PlayerRowHtml(const PlayerRow& row, bool hostEnabled, uint32_t votesNeeded) {
  std::string html = kRowStart;
  if (hostEnabled) html += "<a href=\"" + std::string(kVoteKickRoute) + "%ID%\">kick</a> ( %VOTES% ) | ";
  html += "<a href=\"" + std::string(kReportRoute) + "%ID%\">report</a> | <a href=\"http://";
  html += kProfileSiteHost;
  html += "/profiles/%ID%\">profile</a> | %NAME%</h4>\n";
  char number[64];
  std::snprintf(number, sizeof(number), "%" PRIu64, row.id);
  FillEvery(html, "%ID%", number);
  if (hostEnabled) {
    std::snprintf(number, sizeof(number), "%" PRId32 "/%" PRIu32, row.votesAgainst, votesNeeded);
    FillAfter(html, 0, "%VOTES%", number);
  }
  FillAfter(html, 0, "%NAME%", HtmlName(row.name));  // last: the name is never searched
  return html;
}

}  // namespace

const char* const mainPageTemplate = PALISARD_PAGE_HEAD
    "\t\t<h3>Host:</h3>\n"
    "\t\t\t<h4>%HOST%</h4>\n"
    "\t\t<h3>Clients:</h3>\n"
    "%CLIENTS%\t\t<h3>Chatlog:</h3>\n"
    "%CHATLOG%\t\t<div id=\"Blocked\">\n"
    "%BLOCKED%\t\t</div>\n"
    "\t</div>\n" PALISARD_PAGE_BOTTOM
    // Follows the match while the page is visible; without scripts the
    // page and its links work as plain HTML.
    // The element holds the file's bytes alone: the policy names them by hash.
    "\t<script>" PALISARD_CONSOLE_PAGE_SCRIPT "</script>\n" PALISARD_PAGE_END;

const char* const resultPageTemplate = PALISARD_PAGE_HEAD
    "\t\t<center>\n"
    "\t\t<h4>%OUTPUT%</h4>\n"
    "\t\t<h4><a href=\"/\">go back</a></h4>\n"
    "\t\t</center>\n"
    "\t</div>\n" PALISARD_PAGE_BOTTOM PALISARD_PAGE_END;

const char* const kContentSecurityPolicy =
    "default-src 'none'; script-src 'sha256-" PALISARD_CONSOLE_PAGE_SCRIPT_SHA256
    "'; style-src 'unsafe-inline'; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

#undef PALISARD_PAGE_HEAD
#undef PALISARD_PAGE_BOTTOM
#undef PALISARD_PAGE_END

std::string BuildMainPage(const MatchState& state, const std::vector<BlockRow>& blocks) {
  PageData data = CopyPageData(state.Snapshot());
  std::string host = "No Host";
  if (data.host) host = HtmlName(data.hostName) + (data.hostEnabled ? " | Palisard Enabled" : "");
  std::string blocked;
  if (data.hosting) {
    blocked = "\t\t<h3>Blocked:</h3>\n";
    for (const BlockRow& block : blocks) blocked += BlockRowHtml(block);
  }
  std::string rows;
  for (const PlayerRow& row : data.rows) rows += PlayerRowHtml(row, data.hostEnabled, data.votesNeeded);
  std::string chat;
  for (const std::string& line : data.chat) chat += kChatRowStart + EscapeHtml(line) + kChatRowEnd;

  // In template order, each search starting after the text inserted before.
  std::string page = mainPageTemplate;
  std::size_t cursor = FillAfter(page, 0, "%HOST%", host);
  cursor = FillAfter(page, cursor, "%CLIENTS%", rows);
  cursor = FillAfter(page, cursor, "%CHATLOG%", chat);
  FillAfter(page, cursor, "%BLOCKED%", blocked);
  return page;
}

std::string BuildMatchJson(const MatchState& state, const std::vector<BlockRow>& blocks) {
  using json = nlohmann::ordered_json;  // fields in the documented order
  const PageData data = CopyPageData(state.Snapshot());
  json match = json::object();
  match["host"] = nullptr;
  if (data.host) {
    match["host"] = {
        {"id", std::to_string(data.host->id)}, {"name", CleanGameText(data.hostName)}, {"enabled", data.hostEnabled}};
  }
  match["hosting"] = data.hosting;
  match["votesNeeded"] = data.votesNeeded;
  match["players"] = json::array();
  for (const PlayerRow& row : data.rows) {
    match["players"].push_back({{"slot", row.slot},
                                {"id", std::to_string(row.id)},
                                {"name", CleanGameText(row.name)},
                                {"votes", row.votesAgainst},
                                {"canKick", data.hostEnabled}});
  }
  match["chat"] = data.chat;
  match["blocks"] = json::array();
  for (const BlockRow& block : blocks) {
    if (!data.hosting) break;
    match["blocks"].push_back({{"id", std::to_string(block.id)},
                               {"name", CleanGameText(block.name)},
                               {"address", DottedAddress(block.address)},
                               {"why", block.why},
                               {"secondsLeft", block.secondsLeft}});
  }
  // The game's texts are any bytes: what is not UTF-8 becomes U+FFFD.
  return match.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string BuildResultPage(const std::string& message) {
  std::string page = resultPageTemplate;
  FillAfter(page, 0, "%OUTPUT%", EscapeHtml(message));
  return page;
}

std::string BuildRefusalPage(const std::string& message) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Palisard</title></head><body>" +
         EscapeHtml(message) + "</body></html>\n";
}

}  // namespace palisard
