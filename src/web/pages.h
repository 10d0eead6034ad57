#pragma once

#include <string>

#include "game/match_state.h"

namespace palisard {

// Host of the platform's community site, in every player's profile link.
inline constexpr const char* kProfileSiteHost = "steamcommunity.com";

extern const char* const mainPageTemplate;
extern const char* const resultPageTemplate;

// The main page: the host, one row per player with report, profile and (when
// the host runs Palisard) kick links with vote counts, and the last eight
// chat lines, from one snapshot of the match.
std::string BuildMainPage(const MatchState& state);

// The result page around `message`, which is HTML-escaped: part of it can be
// a remote peer's answer.
std::string BuildResultPage(const std::string& message);

// Replaces "<", ">", "&" and '"' by their entities.
std::string EscapeHtml(const std::string& text);

}  // namespace palisard
