#include "service/moderation/public_player.h"

#include "service/http/error_answers.h"
#include "service/http/form_fields.h"
#include "service/http/page_answers.h"
#include "service/moderation/pages.h"
#include "service/values/record_values.h"

namespace palisard {
namespace {

const char* VerdictText(AppealVerdict verdict) {
  switch (verdict) {
    case AppealVerdict::kRecorded:
      return "Your appeal is received: the moderators will read it.";
    case AppealVerdict::kNotBanned:
      return "This player is not banned: there is nothing to appeal.";
    case AppealVerdict::kOpenAlready:
      return "An appeal of this player from your network is open already.";
    case AppealVerdict::kNetworkLimit:
      return "Too many appeals from your network: try again tomorrow.";
    case AppealVerdict::kServiceLimit:
      return "Too many appeals reach the moderators just now: try again in a few hours.";
  }
  return "";
}

unsigned VerdictStatus(AppealVerdict verdict) {
  switch (verdict) {
    case AppealVerdict::kRecorded:
      return 200;
    case AppealVerdict::kNetworkLimit:
    case AppealVerdict::kServiceLimit:
      return 429;
    default:
      return 409;
  }
}

// The service's fault, when the store cannot answer.
StoreReply Unanswered(const Result& failure) {
  return {ErrorAnswer(Refusal::kCannotAnswerNow, Medium::kHtml), failure};
}

StoreReply Page(unsigned status, Store& store, uint64_t playerId, const std::string& network, UnixTime now,
                const std::string& notice) {
  PlayerFile file;
  const Result found = store.Player(playerId, &file);
  if (!found.ok()) return Unanswered(found);
  std::optional<Ban> inForce;
  for (const Ban& ban : file.bans) {
    if (!inForce && ban.InForce(now)) inForce = ban;
  }
  bool appealOpen = false;
  for (const Appeal& appeal : file.appeals) appealOpen = appealOpen || (!appeal.closing && appeal.network == network);
  return {HtmlPage(status, PublicPlayerPage(playerId, inForce, appealOpen, notice)), Result::Ok()};
}

}  // namespace

Routed RoutePlayerPage(const HttpRequest& request, const SitePage& page, const ServeSettings& settings) {
  uint64_t playerId = 0;
  if (!ParseCommunityId(std::string(PathTail(page, PathOf(request.target))), &playerId).ok()) {
    return ErrorAnswer(Refusal::kNotFound, Medium::kHtml, "no player has this page");
  }
  if (page.id == PageId::kPlayerPage) {
    return StoreCall([playerId, network = request.network](Store& store, UnixTime now) {
      return Page(200, store, playerId, network, now, "");
    });
  }
  // Only the player's page may send an appeal: another site's cannot make
  // its visitors file them.
  if (!SameOrigin(request)) {
    return ErrorAnswer(Refusal::kForbidden, Medium::kHtml, "appeals are sent from the player's own page on this site");
  }
  const NewAppeal appeal{playerId, Field(ParseFormFields(request.body), field::kAppealText), request.network};
  return StoreCall([appeal, &settings](Store& store, UnixTime now) {
    AppealVerdict verdict = AppealVerdict::kRecorded;
    Result made = store.RecordAppeal(appeal, settings.appealLimits, now, &verdict);
    if (made.kind() == Result::Kind::kInvalid)
      return Page(400, store, appeal.playerId, appeal.network, now, made.text());
    if (!made.ok()) return Unanswered(made);
    return Page(VerdictStatus(verdict), store, appeal.playerId, appeal.network, now, VerdictText(verdict));
  });
}

}  // namespace palisard
