#pragma once

#include "service/http/http_exchange.h"
#include "service/moderation/site_map.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// A player's public page, `page` (kPlayerPage or kAppeal) of the site map.
// GET: whether the player is banned, why and until when, with the appeal
// form while he is; POST: takes the appeal (rate-limited per source
// network). `settings` outlives the call returned.
Routed RoutePlayerPage(const HttpRequest& request, const SitePage& page, const ServeSettings& settings);

}  // namespace palisard
