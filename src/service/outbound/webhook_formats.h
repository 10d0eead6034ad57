#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace palisard {

// One event as the outbox keeps it (see webhook_events.h for the types and
// their data).
struct WebhookEvent {
  std::string type;       // "ban.created"
  std::string id;         // unique, the same on every retry: the webhook-id
  int64_t timestamp = 0;  // when it happened, Unix seconds
  nlohmann::json data;    // an object with the type's fields
};

// The body for the "standard" format, compact, as it is signed and sent:
// {"type": "ban.created", "timestamp": "2024-05-01T12:00:00Z", "data": {...}}.
std::string StandardWebhookBody(const WebhookEvent& event);

// The body for the "discord" format, an incoming webhook's message: one
// embed titled for the type, linked to the player's public page
// (`publicUrl` + "/player/ID", when the service has a public URL) with the
// type's fields, the long text of an appeal as its description, the type
// and id in its footer. Every text is plain (see PlainDiscordText) and cut
// to Discord's limits; "allowed_mentions" parses nothing, so no text pings
// anyone whatever it holds.
std::string DiscordWebhookBody(const WebhookEvent& event, std::string_view publicUrl);

}  // namespace palisard
