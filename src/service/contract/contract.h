#pragma once

#include <string>

#include "service/contract/sighting_log.h"
#include "service/http/http_exchange.h"
#include "service/settings/serve_settings.h"
#include "soap/soap_codec.h"
#include "store/store.h"

namespace palisard {

// Whether `path` is the contract's, in any case (.asmx paths are matched so
// where they come from).
bool IsContractPath(const std::string& path);

// A request to the contract's path: the WSDL, or a SOAP call (dispatched by
// SOAPAction, quoted or not, or by the body's operation when the header is
// missing or empty; a malformed call or one whose SOAPAction names another
// operation gets a fault). A GetBanList that asks for no id is answered
// here; one answered by the store goes to `sightings`. `settings` and
// `sightings` outlive the calls returned.
Routed RouteContract(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings);

// Answers a SOAP call with the store, for a request from `network` (its
// SourceNetwork), at `now`. A failure of the store is answered with a
// fault (soap:Server, 500).
StoreReply AnswerCall(Store& store, const ServiceRequest& call, const std::string& network,
                      const ServeSettings& settings, UnixTime now);

// The fault for a call the store could not answer (unreachable, too slow).
HttpAnswer StoreFault();

}  // namespace palisard
