#include "web/pages.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/ipv4.h"
#include "common/version.h"
#include "game/game_text.h"
#include "game/vote_book.h"

namespace palisard {
namespace {

#define PALISARD_PAGE_HEAD                                             \
  "<html>\n"                                                           \
  "<head>\n"                                                           \
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

std::string PlainName(std::string name) {
  CleanGameText(name, false);
  return name;
}

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
  std::vector<std::string> chat;  // oldest first, HTML-escaped
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

// The chat log's lines are stored escaped ("&", '"', "<", ">"); one pass
// back, so a typed "&lt;" stays as typed.
std::string UnescapeHtml(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}};
  std::string plain;
  for (std::size_t at = 0; at < text.size();) {
    bool replaced = false;
    for (const auto& [entity, c] : kEntities) {
      if (text.compare(at, std::char_traits<char>::length(entity), entity) == 0) {
        plain += c;
        at += std::char_traits<char>::length(entity);
        replaced = true;
        break;
      }
    }
    if (!replaced) plain += text[at++];
  }
  return plain;
}

std::string BlockRowHtml(const BlockRow& block) {
  char left[32];
  std::snprintf(left, sizeof(left), "%" PRId64 ":%02" PRId64, block.secondsLeft / 60, block.secondsLeft % 60);
  const std::string id = std::to_string(block.id);
  return "\t\t<h4><a href=\"/unblock?" + id + "\">unblock</a> | " + id + " | " + EscapeHtml(block.why) + " | " + left +
         " left | " + CleanName(block.name) + "</h4>\n";
}

std::string PlayerRowHtml(const PlayerRow& row, bool hostEnabled, uint32_t votesNeeded) {
  std::string html = kRowStart;
  if (hostEnabled) html += kKickPiece;
  html += "<a href=\"/report?%ID%\">report</a> | <a href=\"http://";
  html += kProfileSiteHost;
  html += "/profiles/%ID%\">profile</a> | %NAME%</h4>\n";
  const std::string name = CleanName(row.name);
  char number[64];
  std::snprintf(number, sizeof(number), "%" PRIu64, row.id);
  FillEvery(html, "%ID%", number);
  if (hostEnabled) {
    std::snprintf(number, sizeof(number), "%" PRId32 "/%" PRIu32, row.votesAgainst, votesNeeded);
    FillAfter(html, 0, "%VOTES%", number);
  }
  FillAfter(html, 0, "%NAME%", name);  // last: the name is never searched
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
    // Follows the match while the page is visible: asks for /match.json about
    // once a second and changes only the rows whose text changed, so nothing
    // blinks and the scroll stays. The action links act in place and show the
    // result page's message beside their row. Without scripts the page and its
    // links work as plain HTML.
    R"JS(	<script>
	(function () {
		var box = document.getElementById('Box'), heads = box.getElementsByTagName('h3');
		var blocked = document.getElementById('Blocked'), line = document.createElement('h4');
		line.style.display = 'none';
		line.style.color = '#D10202';
		box.insertBefore(line, box.firstChild);
		function esc(t) {
			return t.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
		}
		function put(row, html) {
			if (row.h === undefined ? row.innerHTML !== html : row.h !== html) {
				row.innerHTML = html;
				if (row.r) row.appendChild(row.r);
			}
			row.h = html;
		}
		// The rows after head, matched by the id in their first link; a row
		// gone from the match keeps an action's fresh result a few seconds.
		function rows(head, items, html) {
			var have = {}, at = head, el, a, id;
			for (el = head.nextElementSibling; el && el.tagName === 'H4'; el = el.nextElementSibling) {
				a = el.querySelector('a[href*="?"]');
				if (a) have[a.getAttribute('href').split('?')[1]] = el;
			}
			items.forEach(function (item) {
				var row = have[item.id] || document.createElement('h4');
				delete have[item.id];
				if (at.nextElementSibling !== row) at.parentNode.insertBefore(row, at.nextSibling);
				put(row, html(item));
				at = row;
			});
			for (id in have) if (!(have[id].t > Date.now() - 5000)) have[id].remove();
		}
		function apply(m) {
			var host = m.host ? m.host.name + (m.host.enabled ? ' | Palisard Enabled' : '') : 'No Host';
			var chat = heads[2].nextElementSibling, head = blocked.querySelector('h3');
			if (heads[0].nextElementSibling.textContent !== host) heads[0].nextElementSibling.textContent = host;
			rows(heads[1], m.players, function (p) {
				return (p.canKick ? '<a href="/votekick?' + p.id + '">kick</a> ( ' + p.votes + '/' + m.votesNeeded + ' ) | ' : '') +
					'<a href="/report?' + p.id + '">report</a> | <a href="http://)JS" PALISARD_PROFILE_SITE
    R"JS(/profiles/' + p.id + '">profile</a> | ' + esc(p.name);
			});
			m.chat.forEach(function (text) {
				if (!chat || chat.tagName !== 'H4') return;
				if (chat.textContent !== text) chat.textContent = text;
				chat = chat.nextElementSibling;
			});
			if (!m.hosting) {
				if (head) blocked.textContent = '';
				return;
			}
			if (!head) {
				head = blocked.appendChild(document.createElement('h3'));
				head.textContent = 'Blocked:';
			}
			rows(head, m.blocks, function (b) {
				var s = b.secondsLeft;
				return '<a href="/unblock?' + b.id + '">unblock</a> | ' + b.id + ' | ' + b.why + ' | ' + Math.floor(s / 60) + ':' +
					('0' + s % 60).slice(-2) + ' left | ' + esc(b.name);
			});
		}
		document.addEventListener('click', function (e) {
			var a = e.target.closest && e.target.closest('a'), row;
			if (!a || e.button || e.ctrlKey || e.metaKey || e.shiftKey) return;
			if (!/^\/(report|votekick|unblock)\?/.test(a.getAttribute('href'))) return;
			e.preventDefault();
			row = a.parentNode;
			function say(text) {
				if (!row.r) {
					row.r = document.createElement('span');
					row.r.style.marginLeft = '1em';
					row.r.style.color = '#D10202';
				}
				row.r.textContent = text;
				row.appendChild(row.r);
				row.t = Date.now();
			}
			say('...');
			fetch(a.getAttribute('href'), {mode: 'same-origin', cache: 'no-store'}).then(function (r) {
				return r.text();
			}).then(function (t) {
				var page = new DOMParser().parseFromString(t, 'text/html');
				say((page.querySelector('h4') || page.body).textContent);
			}, function () {
				say('The console does not answer');
			});
		});
		var busy = false, timer = 0;
		function poll() {
			clearTimeout(timer);
			if (busy || document.visibilityState !== 'visible') return;
			busy = true;
			fetch('/match.json', {mode: 'same-origin', cache: 'no-store'}).then(function (r) {
				if (!r.ok) throw r.status;
				return r.json();
			}).then(function (m) {
				apply(m);
				line.style.display = 'none';
			}).catch(function () {
				line.textContent = 'The console does not answer; trying again';
				line.style.display = '';
			}).then(function () {
				busy = false;
				timer = setTimeout(poll, 1000);
			});
		}
		document.addEventListener('visibilitychange', poll);
		timer = setTimeout(poll, 1000);
	})();
	</script>
)JS" PALISARD_PAGE_END;

const char* const resultPageTemplate = PALISARD_PAGE_HEAD
    "\t\t<center>\n"
    "\t\t<h4>%OUTPUT%</h4>\n"
    "\t\t<h4><a href=\"/\">go back</a></h4>\n"
    "\t\t</center>\n"
    "\t</div>\n" PALISARD_PAGE_BOTTOM PALISARD_PAGE_END;

#undef PALISARD_PAGE_HEAD
#undef PALISARD_PAGE_BOTTOM
#undef PALISARD_PAGE_END

std::string BuildMainPage(const MatchState& state, const std::vector<BlockRow>& blocks) {
  PageData data = CopyPageData(state.Snapshot());
  std::string host = "No Host";
  if (data.host) host = CleanName(data.hostName) + (data.hostEnabled ? " | Palisard Enabled" : "");
  std::string blocked;
  if (data.hosting) {
    blocked = "\t\t<h3>Blocked:</h3>\n";
    for (const BlockRow& block : blocks) blocked += BlockRowHtml(block);
  }
  std::string rows;
  for (const PlayerRow& row : data.rows) rows += PlayerRowHtml(row, data.hostEnabled, data.votesNeeded);
  std::string chat;
  for (const std::string& line : data.chat) chat += kChatRowStart + line + kChatRowEnd;

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
        {"id", std::to_string(data.host->id)}, {"name", PlainName(data.hostName)}, {"enabled", data.hostEnabled}};
  }
  match["hosting"] = data.hosting;
  match["votesNeeded"] = data.votesNeeded;
  match["players"] = json::array();
  for (const PlayerRow& row : data.rows) {
    match["players"].push_back({{"slot", row.slot},
                                {"id", std::to_string(row.id)},
                                {"name", PlainName(row.name)},
                                {"votes", row.votesAgainst},
                                {"canKick", data.hostEnabled}});
  }
  match["chat"] = json::array();
  for (const std::string& line : data.chat) match["chat"].push_back(UnescapeHtml(line));
  match["blocks"] = json::array();
  for (const BlockRow& block : blocks) {
    if (!data.hosting) break;
    match["blocks"].push_back({{"id", std::to_string(block.id)},
                               {"name", PlainName(block.name)},
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
