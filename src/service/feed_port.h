#pragma once

#include <string>

#include "service/http/http_exchange.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// The community's shared ban feed on the public port (docs/feed.md):
// GET /feed/v1 (the newest number, the page size, the public key), its
// pages /feed/v1/pages/K and their signatures /feed/v1/pages/K.minisig.
// Without a feed-key every path of it is 404.
bool IsFeedPath(const std::string& path);
Routed RouteFeed(const HttpRequest& request, const ServeSettings& settings);

}  // namespace palisard
