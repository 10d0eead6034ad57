#include "service/outbound/webhook_formats.h"

#include <algorithm>
#include <ctime>

#include "common/utf8.h"
#include "service/outbound/discord_text.h"
#include "store/webhook_events.h"

namespace palisard {
namespace {

// Discord's limits on an embed, in characters.
constexpr std::size_t kTitleLimit = 256;
constexpr std::size_t kDescriptionLimit = 4096;
constexpr std::size_t kFieldNameLimit = 256;
constexpr std::size_t kFieldValueLimit = 1024;
constexpr std::size_t kFooterLimit = 2048;
constexpr std::size_t kMostFields = 25;
constexpr std::size_t kEmbedLimit = 6000;
static_assert(std::ranges::all_of(kEventTypes, [](const EventType& type) { return type.fields.size() <= kMostFields; }),
              "an embed holds at most 25 fields");

std::string UtcText(int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char text[32];
  if (gmtime_r(&time, &parts) == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "1970-01-01T00:00:00Z";
  }
  return text;
}

std::string Dump(const nlohmann::ordered_json& json) {
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// What is left of an embed's characters as its texts go in.
class EmbedBudget {
 public:
  // `text` cut to `limit` and to what is left, which shrinks by as much.
  std::string Take(std::string_view text, std::size_t limit) {
    std::string cut = CutDiscordText(text, std::min(limit, left_));
    left_ -= DiscordLength(cut);
    return cut;
  }
  std::size_t left() const { return left_; }

 private:
  std::size_t left_ = kEmbedLimit;
};

std::string DurationText(int64_t seconds) {
  static constexpr struct {
    int64_t seconds;
    const char* name;
  } kUnits[] = {{86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
  for (const auto& unit : kUnits) {
    if (seconds % unit.seconds != 0) continue;
    const int64_t count = seconds / unit.seconds;
    return std::to_string(count) + " " + unit.name + (count == 1 ? "" : "s");
  }
  return {};
}

// The player's public page, when the service has a public URL that a
// markdown link can hold and the id is one.
std::string PlayerPage(std::string_view publicUrl, const std::string& playerId) {
  const bool linkable = (publicUrl.starts_with("http://") || publicUrl.starts_with("https://")) &&
                        publicUrl.find_first_of(" \t\r\n()[]<>\"") == std::string_view::npos;
  const bool id = !playerId.empty() && playerId.find_first_not_of("0123456789") == std::string::npos;
  if (!linkable || !id) return {};
  while (publicUrl.ends_with('/')) publicUrl.remove_suffix(1);
  return std::string(publicUrl) + "/player/" + playerId;
}

// How a field's value shows in the embed; empty when it shows nothing.
std::string FieldText(const EventField& field, const nlohmann::json& value, std::string_view publicUrl) {
  if (field.kind == EventFieldKind::kSeconds) {
    return value.is_null() ? "permanent" : value.is_number_integer() ? DurationText(value.get<int64_t>()) : "";
  }
  if (field.kind == EventFieldKind::kNumber) return value.is_number() ? value.dump() : "";
  if (!value.is_string()) return {};
  const std::string& text = value.get_ref<const std::string&>();
  if (field.kind == EventFieldKind::kPlayer) {
    const std::string page = PlayerPage(publicUrl, text);
    if (!page.empty()) return "[" + text + "](" + page + ")";
  }
  return PlainDiscordText(text);
}

void AddFields(const EventType& type, const WebhookEvent& event, std::string_view publicUrl, EmbedBudget* budget,
               nlohmann::ordered_json* embed) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::array();
  for (const EventField& field : type.fields) {
    if (field.kind == EventFieldKind::kLetter || !event.data.contains(field.key)) continue;
    const std::string value = FieldText(field, event.data[field.key], publicUrl);
    if (value.empty()) continue;
    if (budget->left() < DiscordLength(field.label) + 1) break;
    const std::string name = budget->Take(field.label, kFieldNameLimit);
    fields.push_back({{"name", name},
                      {"value", budget->Take(value, kFieldValueLimit)},
                      {"inline", field.kind != EventFieldKind::kWritten}});
  }
  if (!fields.empty()) (*embed)["fields"] = std::move(fields);
}

// The long text of the type (an appeal's), with what is left of the embed.
void AddDescription(const EventType& type, const WebhookEvent& event, EmbedBudget* budget,
                    nlohmann::ordered_json* embed) {
  for (const EventField& field : type.fields) {
    if (field.kind != EventFieldKind::kLetter || !event.data.contains(field.key)) continue;
    const nlohmann::json& value = event.data[field.key];
    if (!value.is_string()) continue;
    const std::string text = budget->Take(PlainDiscordText(value.get<std::string>()), kDescriptionLimit);
    if (!text.empty()) (*embed)["description"] = text;
    return;
  }
}

void AddPlayerLink(const EventType& type, const WebhookEvent& event, std::string_view publicUrl,
                   nlohmann::ordered_json* embed) {
  for (const EventField& field : type.fields) {
    if (field.kind != EventFieldKind::kPlayer || !event.data.contains(field.key)) continue;
    const nlohmann::json& value = event.data[field.key];
    const std::string page = value.is_string() ? PlayerPage(publicUrl, value.get<std::string>()) : "";
    if (!page.empty()) (*embed)["url"] = page;
    return;
  }
}

}  // namespace

std::string StandardWebhookBody(const WebhookEvent& event) {
  const nlohmann::ordered_json body = {
      {"type", event.type},
      {"timestamp", UtcText(event.timestamp)},
      {"data", event.data.is_object() ? nlohmann::ordered_json(event.data) : nlohmann::ordered_json::object()},
  };
  return Dump(body);
}

std::string DiscordWebhookBody(const WebhookEvent& event, std::string_view publicUrl) {
  const EventType* type = FindEventType(event.type);
  EmbedBudget budget;
  // Titles and footers show no markdown: they hold the service's own words.
  nlohmann::ordered_json embed = {
      {"title", budget.Take(ValidUtf8(type ? type->title : event.type), kTitleLimit)},
      {"footer", {{"text", budget.Take(ValidUtf8(event.type + " \xC2\xB7 " + event.id), kFooterLimit)}}},
      {"timestamp", UtcText(event.timestamp)},
  };
  if (type != nullptr && event.data.is_object()) {
    embed["color"] = type->color;
    AddPlayerLink(*type, event, publicUrl, &embed);
    AddFields(*type, event, publicUrl, &budget, &embed);
    AddDescription(*type, event, &budget, &embed);
  }
  const nlohmann::ordered_json message = {
      {"allowed_mentions", {{"parse", nlohmann::ordered_json::array()}}},
      {"embeds", nlohmann::ordered_json::array({std::move(embed)})},
  };
  return Dump(message);
}

}  // namespace palisard
