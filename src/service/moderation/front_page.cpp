#include "service/moderation/front_page.h"

#include <cstdint>
#include <string>

#include "common/ascii_text.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/moderation/site_map.h"
#include "service/values/record_values.h"
#include "soap/soap_codec.h"

namespace palisard {
namespace {

// The page, with `notice` (markup, or empty) above the form.
std::string Page(const std::string& notice) {
  const std::string wsdl = std::string(kContractPath) + "?" + kDescriptionQuery;
  return std::string(
             "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
             "<title>Palisard ban service</title><style>"
             "body{font-family:system-ui,sans-serif;max-width:40rem;margin:auto;padding:1rem;line-height:1.4}"
             "input,button{font:inherit;padding:.35rem .5rem;max-width:100%}code{overflow-wrap:anywhere}"
             ".error{background:#fbe8e8;padding:.5rem 1rem;border-radius:4px}</style></head><body>"
             "<h1>Palisard ban service</h1>") +
         notice +
         "<p>A community's ban service for Palisard: the copy of Palisard that hosts a match asks it which "
         "players are banned, the players' copies send it their reports, and the community's moderators judge "
         "them.</p><form method=\"get\" action=\"" +
         SitePath(PageId::kPlayerLookup) +
         "\"><label for=\"id\">A player's page, by community id:</label> <input id=\"id\" name=\"" +
         std::string(field::kSearchedId.name) +
         "\" required "
         "inputmode=\"numeric\" pattern=\"[0-9]+\" maxlength=\"" +
         std::to_string(field::kSearchedId.Longest()) +
         "\" placeholder=\"76561197960287930\"> "
         "<button>Show</button></form><p>For developers: the SOAP operations GetBanList and AddInfraction are "
         "posted to <code>" +
         kContractPath + "</code>, described by the WSDL at <a href=\"" + wsdl + "\"><code>" + wsdl +
         "</code></a>.</p></body></html>\n";
}

}  // namespace

HttpAnswer FrontPage() { return HtmlPage(200, Page("")); }

HttpAnswer PlayerLookup(const HttpRequest& request) {
  const FormFields fields = ParseFormFields(QueryOf(request.target));
  // Blanks around it, as pasted.
  const std::string id(Trimmed(Field(fields, field::kSearchedId)));
  uint64_t playerId = 0;
  if (!CheckFields(PageOf(PageId::kPlayerLookup), fields).ok() || !ParseCommunityId(id, &playerId).ok()) {
    return HtmlPage(400, Page("<p class=\"error\">That is not a community id: a decimal number such as "
                              "76561197960287930.</p>"));
  }
  return SeeOther(SitePath(PageId::kPlayerPage, playerId));
}

}  // namespace palisard
