#pragma once

#include "service/http/http_exchange.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// The path of a player's public page, "/player/ID", on the public port.
inline constexpr const char* kPlayerPagePrefix = "/player/";

// GET: whether the player is banned, why and until when, with the appeal
// form while he is; POST: takes the appeal (rate-limited per source
// network). `settings` outlives the call returned.
Routed RoutePlayerPage(const HttpRequest& request, const ServeSettings& settings);

}  // namespace palisard
