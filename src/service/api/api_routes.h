#pragma once

#include <string>

#include "service/http/http_exchange.h"

namespace palisard {

// The JSON API, under kApiPrefix on both ports, as openapi.json describes
// it (served at kApiPrefix + "openapi.json").
inline constexpr const char* kApiPrefix = "/api/v1/";

// Whether a path is the API's: its router answers all of them.
bool IsApiPath(const std::string& path);

// The public port's: a player as his public page shows him, to anyone,
// readable from any site's scripts and cached briefly.
Routed RoutePublicApi(const HttpRequest& request);

// The moderation listener's, for bots with an API token (Authorization:
// Bearer TOKEN; a cookie is no credential here). Checked in this order: the
// token (401), its bucket (429), its scope (403), then the request's id,
// query or body (400). Changes run the store calls the pages run, as the
// actor "token:NAME" from the client's address.
Routed RouteModerationApi(const HttpRequest& request, const TokenLimits& limits);

}  // namespace palisard
