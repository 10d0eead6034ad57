#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/store.h"

namespace palisard {

// The moderation pages and the public player page as HTML: server-written,
// no script, no asset from anywhere else, readable on a phone. They are
// built from what the store answered; every text that is not their own
// markup (ids, names, reasons, appeals, the audit's JSON) is escaped by
// EscapeHtml where it is written, and what people wrote is isolated in a
// <bdi>, so that no text of theirs can reorder the page's own words.

// Who is looking, and the token each of his forms carries.
struct Viewer {
  std::string name;
  bool admin = false;
  std::string formToken;
};

// One open case of the queue with what a moderator weighs.
struct QueueCase {
  Case c;
  std::vector<WitnessedReport> reports;
  PlayerFile history;  // the player's bans and cases, this one among them
};

// An open appeal with the ban it is against (none when the ban ran out
// meanwhile).
struct QueueAppeal {
  Appeal appeal;
  std::optional<Ban> ban;
};

// One screen of the open appeals.
struct AppealsShown {
  std::size_t screen = 0;  // from 0, newest first
  std::size_t perScreen = 10;
  std::size_t total = 0;  // open in all
  std::vector<QueueAppeal> shown;
};

// A webhook endpoint with its last deliveries, newest first.
struct WebhookShown {
  WebhookEndpoint endpoint;
  std::vector<DeliveryRecord> deliveries;
};

// The page a sign-in form is on, with `message` above it (empty: none).
std::string SignInPage(const std::string& message);

// The cases first, then one screen of appeals, summarised.
std::string QueuePage(const Viewer& viewer, const std::string& notice, const std::vector<QueueCase>& cases,
                      const AppealsShown& appeals);
// `searched` is the id searched for, if any; `all` lists past bans too.
std::string BansPage(const Viewer& viewer, const std::string& notice, const std::vector<Ban>& bans,
                     const std::vector<Mute>& mutes, std::optional<uint64_t> searched, bool all, UnixTime now);
std::string PlayerPage(const Viewer& viewer, const std::string& notice, uint64_t playerId, const PlayerFile& file,
                       UnixTime now);
std::string AuditPage(const Viewer& viewer, const AuditFilter& filter, const std::vector<AuditEntry>& entries);
std::string AccountsPage(const Viewer& viewer, const std::string& notice, const std::vector<Moderator>& accounts);
// The endpoints with their state and delivery logs, and the form that adds
// one. `newSecret`, right after a standard endpoint is added, is its
// signing secret: shown this once.
std::string WebhooksPage(const Viewer& viewer, const std::string& notice, const std::vector<WebhookShown>& webhooks,
                         const std::string& newSecret);
// A refusal or an error, with a way back.
std::string MessagePage(const Viewer& viewer, const std::string& title, const std::string& message);

// The public page of a player: whether he is banned, why and until when,
// and the appeal form while he is, unless an appeal from the visitor's own
// network is open. Nothing about who reported him.
std::string PublicPlayerPage(uint64_t playerId, const std::optional<Ban>& ban, bool appealOpenFromHere,
                             const std::string& notice);

// The API tokens (never their secrets), with a form to add one and one to
// remove each; `made`, when given, is a new token's secret, shown this once.
std::string TokensPage(const Viewer& viewer, const std::string& notice, const std::vector<ApiToken>& tokens,
                       const std::string& made);

}  // namespace palisard
