#pragma once

#include "service/http/http_exchange.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// The moderation pages' listener: sign-in, the queue, bans, players, the
// audit and the accounts. Every page but the sign-in form needs a session
// (a cookie whose token's hash the store holds); every POST needs this
// site's own Origin, and every POST but the sign-in the session's form
// token too. `settings` outlives the calls the router returns.
Routed RouteModeration(const HttpRequest& request, const ServeSettings& settings);

// Whether a request carries a session cookie, valid or not: what a
// connection in the share kept for signed-in moderators must bring.
bool CarriesSession(const HttpRequest& request);

}  // namespace palisard
