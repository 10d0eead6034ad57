#pragma once

#include <string>

#include "service/http/http_exchange.h"

namespace palisard {

// Why the service refuses a request or cannot answer it: each condition
// with its one status and its one wording, on either port.
enum class Refusal {
  kBadRequest,       // 400: the request cannot be read
  kForbidden,        // 403: a detail says why
  kNotFound,         // 404
  kTooLarge,         // 413: the body is over the limit
  kEncoded,          // 415: a body with a Content-Encoding
  kHeaderTooLarge,   // 431
  kBusy,             // 503: too many such requests at once
  kCannotAnswerNow,  // 503: the database cannot be used now
  kUnauthorized,     // 401: no API token, or one the store does not hold
  kConflict,         // 409: a detail says with what
  kTooMany,          // 429: an API token's requests are spent for now
};

unsigned StatusOf(Refusal refusal);
// The condition in words, for a page that shows it in its own frame.
const char* Wording(Refusal refusal);

// Programs get plain text; browsers' pages a small page of HTML; the API's
// clients {"error": TEXT}.
enum class Medium { kPlain, kHtml, kJson };

// The answer for `refusal`, with `detail` (text, escaped as needed) after
// its wording.
HttpAnswer ErrorAnswer(Refusal refusal, Medium medium, const std::string& detail = "");
// 405, with the methods the path takes.
HttpAnswer NotAllowed(Medium medium, const std::string& allow);

}  // namespace palisard
