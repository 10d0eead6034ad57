#pragma once

#include "service/contract/sighting_log.h"
#include "service/http/http_exchange.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// The public port's router: the contract (its SOAP calls and WSDL), the
// version file, the front page and the players' public pages; 404 and 405
// for everything else, and 415 for a body with a Content-Encoding.
// `settings` and `sightings` outlive the calls returned.
Routed RoutePublic(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings);

}  // namespace palisard
