#include "service/http/error_answers.h"

#include "common/html_text.h"
#include "service/http/page_answers.h"

namespace palisard {
namespace {

struct Condition {
  unsigned status;
  const char* wording;
};

// In the order of Refusal.
constexpr Condition kConditions[] = {
    {400, "Bad request"},
    {403, "Refused"},
    {404, "Not found"},
    {413, "Payload too large"},
    {415, "Unsupported media type: send the body without a Content-Encoding"},
    {431, "Request header fields too large"},
    {503, "Busy; try again in a moment"},
    {503, "The database cannot answer now; try again in a moment"},
    {401, "Unauthorized: send an API token as Authorization: Bearer TOKEN"},
    {409, "Conflict"},
    {429, "Too many requests with this token; try again later"},
};

const Condition& ConditionOf(Refusal refusal) { return kConditions[static_cast<std::size_t>(refusal)]; }

HttpAnswer Answer(unsigned status, const std::string& wording, Medium medium, const std::string& detail) {
  const std::string text = detail.empty() ? wording : wording + ": " + detail;
  if (medium == Medium::kPlain) return PlainAnswer(status, text + "\n");
  if (medium == Medium::kJson) return JsonAnswer(status, {{"error", text}});
  return HtmlPage(status,
                  "<!DOCTYPE html>\n<title>" + EscapeHtml(wording) + "</title><p>" + EscapeHtml(text) + "</p>\n");
}

}  // namespace

unsigned StatusOf(Refusal refusal) { return ConditionOf(refusal).status; }

const char* Wording(Refusal refusal) { return ConditionOf(refusal).wording; }

HttpAnswer ErrorAnswer(Refusal refusal, Medium medium, const std::string& detail) {
  HttpAnswer answer = Answer(StatusOf(refusal), Wording(refusal), medium, detail);
  if (refusal == Refusal::kEncoded) answer.headers.emplace_back("Accept-Encoding", "identity");
  if (refusal == Refusal::kUnauthorized) answer.headers.emplace_back("WWW-Authenticate", "Bearer");
  return answer;
}

HttpAnswer NotAllowed(Medium medium, const std::string& allow) {
  HttpAnswer answer = Answer(405, "Method not allowed", medium, "");
  answer.headers.emplace_back("Allow", allow);
  return answer;
}

}  // namespace palisard
