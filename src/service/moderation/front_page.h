#pragma once

#include "service/http/http_exchange.h"

namespace palisard {

// The public port's front page and its player lookup.

// What this service is, where its WSDL is, and a form that looks a player
// up.
HttpAnswer FrontPage();
// Where the form leads, with the id asked for: 303 to the player's page,
// or the front page again with 400 when it is no community id.
HttpAnswer PlayerLookup(const HttpRequest& request);

}  // namespace palisard
