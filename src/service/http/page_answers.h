#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "service/http/http_exchange.h"

namespace palisard {

// How the service's HTML pages answer, on either port.

// A page, with the headers every page carries: no script and nothing from
// elsewhere may run in it, no other site may frame it, nothing is cached.
HttpAnswer HtmlPage(unsigned status, std::string body);
// 303 to `location`, a path on this site.
HttpAnswer SeeOther(const std::string& location);
// A short answer in plain text.
HttpAnswer PlainAnswer(unsigned status, std::string text);
// JSON, never cached unless the caller says otherwise (text that is not
// UTF-8 is written with replacement characters).
HttpAnswer JsonAnswer(unsigned status, const nlohmann::json& json);

// Whether the request reached us through TLS: the service speaks plain
// HTTP, so only a proxy in front can tell, and only one on this machine
// (a loopback peer) is believed when it says X-Forwarded-Proto: https.
bool ThroughTls(const HttpRequest& request);
// Whether the request's Origin is this site's own: the scheme as above
// and the Host the request names. A request without Origin is not.
bool SameOrigin(const HttpRequest& request);

}  // namespace palisard
