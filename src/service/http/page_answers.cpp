#include "service/http/page_answers.h"

#include <utility>

#include "common/ascii_text.h"
#include "service/values/address_text.h"

namespace palisard {

HttpAnswer HtmlPage(unsigned status, std::string body) {
  return {status,
          "text/html; charset=utf-8",
          std::move(body),
          {{"Content-Security-Policy",
            "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'; "
            "base-uri 'none'"},
           {"X-Content-Type-Options", "nosniff"},
           {"X-Frame-Options", "DENY"},
           {"Referrer-Policy", "same-origin"},
           {"Cache-Control", "no-store"}}};
}

HttpAnswer SeeOther(const std::string& location) {
  HttpAnswer answer = HtmlPage(303, "");
  answer.headers.emplace_back("Location", location);
  return answer;
}

HttpAnswer JsonAnswer(unsigned status, const nlohmann::json& json) {
  return {status,
          "application/json",
          json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
          {{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}}};
}

HttpAnswer PlainAnswer(unsigned status, std::string text) {
  return {status, "text/plain; charset=utf-8", std::move(text), {}};
}

bool ThroughTls(const HttpRequest& request) {
  return AsciiLowercase(request.forwardedProto) == "https" && IsLoopback(request.peer);
}

bool SameOrigin(const HttpRequest& request) {
  if (request.origin.empty() || request.host.empty()) return false;
  return AsciiLowercase(request.origin) ==
         (ThroughTls(request) ? "https://" : "http://") + AsciiLowercase(request.host);
}

}  // namespace palisard
