#include "service/public_port.h"

#include <string>

#include "common/ascii_text.h"
#include "service/contract/contract.h"
#include "service/http/page_answers.h"
#include "service/moderation/front_page.h"
#include "service/moderation/public_player.h"

namespace palisard {
namespace {

constexpr char kVersionPath[] = "/version.txt";

}  // namespace

Routed RoutePublic(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings) {
  const std::string path = PathOf(request.target);
  // Nothing here reads a compressed body: say so, rather than fail to read it.
  if (!request.contentEncoding.empty() && !EqualsIgnoringCase(Trimmed(request.contentEncoding), "identity")) {
    HttpAnswer answer = PlainAnswer(415, "Unsupported Media Type: send the body without a Content-Encoding\n");
    answer.headers.emplace_back("Accept-Encoding", "identity");
    return answer;
  }
  if (IsContractPath(path)) return RouteContract(request, settings, sightings);
  if (path == kVersionPath) {
    if (request.method != "GET") return NotAllowed("GET");
    if (settings.latestVersion.empty()) return PlainAnswer(404, "No release is announced here.\n");
    // Two lines, the second without an end: the client takes all after the
    // first LF as the download address.
    return PlainAnswer(200, settings.latestVersion + "\r\n" + settings.downloadUrl);
  }
  if (path == kFrontPagePath) return FrontPage(request);
  if (path == kPlayerLookupPath) return PlayerLookup(request);
  if (path.rfind(kPlayerPagePrefix, 0) == 0) return RoutePlayerPage(request, settings);
  return PlainAnswer(404, "Not Found\n");
}

}  // namespace palisard
