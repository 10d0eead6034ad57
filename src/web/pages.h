#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/match_state.h"

namespace palisard {

// Host of the platform's community site, in every player's profile link.
inline constexpr const char* kProfileSiteHost = "steamcommunity.com";

extern const char* const mainPageTemplate;
extern const char* const resultPageTemplate;

// What the pages may do in a browser: run the main page's own script alone,
// fetch from their own origin, take their inline style, and be shown in no
// frame (another page cannot lay its own over the links). Every answer of
// the console carries it.
extern const char* const kContentSecurityPolicy;

// A block in force, as the pages show it.
struct BlockRow {
  uint64_t id = 0;
  std::string name;  // as the game holds it; empty once the player left
  uint32_t address = 0;
  std::string why;  // "votes", "ban" or "report"
  int64_t secondsLeft = 0;
};

// The main page: the host, one row per player with report, profile and (when
// the host runs Palisard) kick links with vote counts, the last eight chat
// lines and, while this copy hosts, `blocks` with their unblock links, from
// one snapshot of the match. Its script (console_page.js) follows the match
// by asking for the page again while it is visible. Every text from the
// game is HTML-escaped here, where it is written.
std::string BuildMainPage(const MatchState& state, const std::vector<BlockRow>& blocks = {});

// The same match as JSON for overlays and bots. Ids are strings (a
// JavaScript number cannot hold them); texts are the game's with colour
// codes removed, not escaped; bytes that are not UTF-8 become U+FFFD.
std::string BuildMatchJson(const MatchState& state, const std::vector<BlockRow>& blocks);

// The result page around `message`, which is HTML-escaped: part of it can be
// a remote peer's answer.
std::string BuildResultPage(const std::string& message);

// A refused request's answer: `message` alone, which the main page's script
// shows as it is.
std::string BuildRefusalPage(const std::string& message);

}  // namespace palisard
