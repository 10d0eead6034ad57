#pragma once

#include <string>

#include "service/http_exchange.h"
#include "service/serve_settings.h"
#include "service/sighting_log.h"
#include "soap/soap_codec.h"
#include "store/store.h"

namespace palisard {

// The public port's router: the version file, the WSDL, the contract's
// SOAP calls (dispatched by SOAPAction, quoted or not, or by the body's
// operation when the header is missing or empty; a malformed call or one
// whose SOAPAction names another operation gets a fault), the front page
// and the players' public pages, 404 and 405 for everything else, 415 for
// a body with a Content-Encoding. A GetBanList that asks
// for no id is answered here; one answered by the store goes to
// `sightings`. `settings` and `sightings` outlive the calls returned.
Routed Route(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings);

// Answers a SOAP call with the store, for a request from `network` (its
// SourceNetwork), at `now`. `stored` is what the store said: a failure of it
// is answered with a fault (soap:Server, 500).
HttpAnswer AnswerCall(Store& store, const ServiceRequest& call, const std::string& network,
                      const ServeSettings& settings, UnixTime now, Result* stored);

// The fault for a call the store could not answer (unreachable, too slow).
HttpAnswer StoreFault();

}  // namespace palisard
