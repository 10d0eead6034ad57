#include "service/moderation/front_page.h"

#include <cstdint>
#include <string>

#include "common/ascii_text.h"
#include "common/html_text.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/moderation/front_page_file.h"
#include "service/moderation/page_template.h"
#include "service/moderation/site_map.h"
#include "service/values/record_values.h"
#include "soap/soap_codec.h"

namespace palisard {
namespace {

// The page, with `notice` (markup, or empty) above the form.
std::string Page(const std::string& notice) {
  const std::string contract = EscapeHtml(kContractPath);
  const std::string wsdl = contract + "?" + EscapeHtml(kDescriptionQuery);
  return FillIn(PALISARD_FRONT_PAGE, {{"notice", notice},
                                      {"lookup", SitePath(PageId::kPlayerLookup)},
                                      {"id", field::kSearchedId.name},
                                      {"id_length", std::to_string(field::kSearchedId.Longest())},
                                      {"contract", contract},
                                      {"wsdl", wsdl}});
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
