#pragma once

#include "service/http/http_exchange.h"

namespace palisard {

// The public port's front page and its player lookup.
inline constexpr char kFrontPagePath[] = "/";
inline constexpr char kPlayerLookupPath[] = "/player";

// GET kFrontPagePath: what this service is, where its WSDL is, and a form
// that looks a player up. GET kPlayerLookupPath?id=ID, where the form
// leads: 303 to the player's page, or the front page again with 400 when
// ID is no community id. Other methods: 405.
HttpAnswer FrontPage(const HttpRequest& request);
HttpAnswer PlayerLookup(const HttpRequest& request);

}  // namespace palisard
