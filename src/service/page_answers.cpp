#include "service/page_answers.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace palisard {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

}  // namespace

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

bool ThroughTls(const HttpRequest& request) {
  return Lower(request.forwardedProto) == "https" && IsLoopback(request.peer);
}

bool SameOrigin(const HttpRequest& request) {
  if (request.origin.empty() || request.host.empty()) return false;
  return Lower(request.origin) == (ThroughTls(request) ? "https://" : "http://") + Lower(request.host);
}

}  // namespace palisard
