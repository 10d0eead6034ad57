#include "service/outbound/webhook_formats.h"

#include <gtest/gtest.h>

#include <map>

#include "service/outbound/discord_text.h"

namespace palisard {
namespace {

using nlohmann::json;

const char* kPublicUrl = "https://bans.example.org/";

WebhookEvent BanCreated(const std::string& reason, const json& duration) {
  json data =
      json::parse(R"({"ref": "b-7", "playerId": "76561197960287930", "by": "alice", "reports": 4, "networks": 3})");
  data["reason"] = reason;
  data["durationSeconds"] = duration;
  data["until"] = duration.is_null() ? json() : json("2024-05-08T12:00:00Z");
  return {"ban.created", "evt_41", 1714564800, data};
}

// An embed's fields, value by name.
std::map<std::string, std::string> FieldsOf(const json& embed) {
  std::map<std::string, std::string> fields;
  for (const json& field : embed["fields"]) fields[field["name"]] = field["value"];
  return fields;
}

TEST(WebhookFormatsTest, WritesTheStandardBodyAsSigned) {
  EXPECT_EQ(StandardWebhookBody({"ban.lifted", "evt_42", 1714564800, {{"playerId", "76561197960287930"}}}),
            R"({"type":"ban.lifted","timestamp":"2024-05-01T12:00:00Z","data":{"playerId":"76561197960287930"}})");
}

TEST(WebhookFormatsTest, ShowsABanInDiscordWithNothingThatPingsOrRenders) {
  const json message = json::parse(DiscordWebhookBody(BanCreated("@everyone <script> **x**", 7 * 86400), kPublicUrl));
  EXPECT_EQ(message["allowed_mentions"], json({{"parse", json::array()}}));
  ASSERT_EQ(message["embeds"].size(), 1u);
  const json& embed = message["embeds"][0];
  EXPECT_EQ(embed["title"], "Player banned");
  EXPECT_EQ(embed["url"], "https://bans.example.org/player/76561197960287930");
  EXPECT_EQ(embed["footer"]["text"], "ban.created \xC2\xB7 evt_41");
  EXPECT_EQ(embed["timestamp"], "2024-05-01T12:00:00Z");
  std::map<std::string, std::string> fields = FieldsOf(embed);
  EXPECT_EQ(fields["Player"], "[76561197960287930](https://bans.example.org/player/76561197960287930)");
  EXPECT_EQ(fields["Reason"], "\\@everyone \\<script\\> \\*\\*x\\*\\*");
  EXPECT_EQ(fields["Duration"], "7 days");
  EXPECT_EQ(fields["Networks"], "3");

  const json permanent = json::parse(DiscordWebhookBody(BanCreated("aimbot", nullptr), "not a url"))["embeds"][0];
  fields = FieldsOf(permanent);
  EXPECT_EQ(fields["Duration"], "permanent");
  EXPECT_EQ(fields.count("Until"), 0u);
  EXPECT_EQ(fields["Player"], "76561197960287930");  // no link without a public URL
  EXPECT_FALSE(permanent.contains("url"));
}

// The characters of an embed as Discord counts them towards its 6000.
std::size_t EmbedLength(const json& embed) {
  const auto length = [](const json& text) { return DiscordLength(text.get<std::string>()); };
  std::size_t total = length(embed["title"]) + length(embed["footer"]["text"]);
  if (embed.contains("description")) total += length(embed["description"]);
  for (const json& field : embed.value("fields", json::array()))
    total += length(field["name"]) + length(field["value"]);
  return total;
}

TEST(WebhookFormatsTest, KeepsEveryTextWithinDiscordsLimits) {
  const std::string huge(5000, 'w');
  WebhookEvent appeal{"appeal.filed", "evt_9", 0, {{"appealId", 9}, {"playerId", "1"}, {"text", huge}}};
  json embed = json::parse(DiscordWebhookBody(appeal, kPublicUrl))["embeds"][0];
  EXPECT_EQ(DiscordLength(embed["description"].get<std::string>()), 4096u);
  appeal.id = huge;
  appeal.data["playerId"] = huge;
  embed = json::parse(DiscordWebhookBody(appeal, kPublicUrl))["embeds"][0];
  EXPECT_EQ(DiscordLength(embed["footer"]["text"].get<std::string>()), 2048u);
  EXPECT_EQ(DiscordLength(embed["fields"][1]["value"].get<std::string>()), 1024u);
  EXPECT_EQ(EmbedLength(embed), 6000u);
}

}  // namespace
}  // namespace palisard
