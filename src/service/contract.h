#pragma once

#include <optional>
#include <string>
#include <variant>

#include "service/serve_settings.h"
#include "soap/soap_codec.h"
#include "store/store.h"

namespace palisard {

// What the public port needs of one HTTP request.
struct PublicRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the path and its query: "/banservices/GetBanList.asmx?WSDL"
  std::string host;    // the Host header; empty when there was none
  std::optional<std::string> soapAction;
  std::string body;
};

// What it answers.
struct PublicAnswer {
  unsigned status = 200;
  std::string contentType;
  std::string body;
  std::string allow;  // the Allow header of a 405
};

// A request at once answered (a page, an error, a fault), or a SOAP call
// that needs the store.
using Routed = std::variant<PublicAnswer, ServiceRequest>;

// Sorts a request: the version file, the WSDL, the contract's SOAP calls
// (dispatched by SOAPAction, quoted or not, or by the body's operation when
// the header is missing or empty; a malformed call or one whose SOAPAction
// names another operation gets a fault), 404 and 405 for everything else.
// A GetBanList that asks for no id is answered here.
Routed Route(const PublicRequest& request, const ServeSettings& settings);

// Answers a SOAP call with the store, for a request from `network` (its
// SourceNetwork), at `now`. `stored` is what the store said: a failure of it
// is answered with a fault (soap:Server, 500).
PublicAnswer AnswerCall(Store& store, const ServiceRequest& call, const std::string& network,
                        const ServeSettings& settings, UnixTime now, Result* stored);

// The fault for a call the store could not answer (unreachable, too slow).
PublicAnswer StoreFault();

}  // namespace palisard
