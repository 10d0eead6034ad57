#include "service/public_port.h"

#include <string>

#include "common/ascii_text.h"
#include "service/api/api_routes.h"
#include "service/contract/contract.h"
#include "service/feed_port.h"
#include "service/http/error_answers.h"
#include "service/http/page_answers.h"
#include "service/moderation/front_page.h"
#include "service/moderation/public_player.h"
#include "service/moderation/site_map.h"

namespace palisard {
namespace {

HttpAnswer VersionFile(const ServeSettings& settings) {
  if (settings.latestVersion.empty())
    return ErrorAnswer(Refusal::kNotFound, Medium::kPlain, "no release is announced here");
  // Two lines, the second without an end: the client takes all after the
  // first LF as the download address.
  return PlainAnswer(200, settings.latestVersion + "\r\n" + settings.downloadUrl);
}

}  // namespace

Routed RoutePublic(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings) {
  const std::string path = PathOf(request.target);
  // Nothing here reads a compressed body: say so, rather than fail to read it.
  if (!request.contentEncoding.empty() && !EqualsIgnoringCase(Trimmed(request.contentEncoding), "identity")) {
    return ErrorAnswer(Refusal::kEncoded, Medium::kPlain);
  }
  if (IsContractPath(path)) return RouteContract(request, settings, sightings);
  if (IsApiPath(path)) return RoutePublicApi(request);
  if (IsFeedPath(path)) return RouteFeed(request, settings);
  const PageMatch match = MatchPage(Port::kPublic, request.method, path);
  if (!match.page) {
    return match.allowed.empty() ? ErrorAnswer(Refusal::kNotFound, Medium::kPlain)
                                 : NotAllowed(Medium::kPlain, match.allowed);
  }
  switch (match.page->id) {
    case PageId::kVersionFile:
      return VersionFile(settings);
    case PageId::kFrontPage:
      return FrontPage();
    case PageId::kPlayerLookup:
      return PlayerLookup(request);
    default:  // the player's page, and his appeal
      return RoutePlayerPage(request, *match.page, settings);
  }
}

}  // namespace palisard
