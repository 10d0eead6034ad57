// Webhooks: their endpoints, the events outbox and the deliveries that the
// service's delivery workers claim and finish.
#include <algorithm>

#include "store/ban_json.h"
#include "store/sql_store.h"
#include "store/text_limits.h"
#include "store/webhook_events.h"
#include "store/webhook_url.h"

namespace palisard {
namespace {

// The test event's type: for one endpoint, never in a filter.
constexpr std::string_view kTestEventType = "webhook.test";

// The endpoints table, as "e": its columns, and a row as a WebhookEndpoint.
const SqlColumns kEndpointColumns({"e.id", "e.url", "e.format", "e.event_types", "e.secret", "e.created_by",
                                   "e.created_at", "e.disabled_at", "e.disabled_why", "e.failing_since"});

Result ReadEndpointFields(SqlFields& fields, WebhookEndpoint* endpoint) {
  endpoint->id = fields.Int("id");
  endpoint->url = fields.Text("url");
  endpoint->format = fields.Value<WebhookFormat>("format");
  const std::string types = fields.Text("event_types");
  endpoint->secret = fields.Text("secret");
  endpoint->createdBy = fields.Text("created_by");
  endpoint->createdAt = fields.Int("created_at");
  endpoint->disabledAt = fields.OptionalInt("disabled_at");
  endpoint->disabledWhy = fields.Text("disabled_why");
  endpoint->failingSince = fields.OptionalInt("failing_since");
  if (!fields.result().ok()) return fields.result();
  const nlohmann::json list = nlohmann::json::parse(types, nullptr, false);
  endpoint->events.clear();
  for (const nlohmann::json& type : list.is_array() ? list : nlohmann::json::array()) {
    if (type.is_string()) endpoint->events.push_back(type.get<std::string>());
  }
  if (!list.is_array() || endpoint->events.size() != list.size()) {
    return Result::Failed("the database's column event_types holds '" + types + "', not a list of types");
  }
  return Result::Ok();
}

Result ReadEndpoint(const SqlRow& row, WebhookEndpoint* endpoint) {
  SqlFields fields(kEndpointColumns, row);
  return ReadEndpointFields(fields, endpoint);
}

// A due delivery with its event and endpoint.
const SqlColumns kClaimColumns(kEndpointColumns,
                               {"d.id AS delivery_id", "d.attempts", "d.first_attempt_at", "ev.id AS event_row",
                                "ev.message_id", "ev.type", "ev.made_at", "ev.data"});

// An endpoint and its deliveries claimed at $1.
const SqlColumns kEndpointRoomColumns(
    {"e.id", "(SELECT COUNT(*) FROM deliveries c WHERE c.endpoint_id = e.id AND c.claimed_until > $1) AS busy"});

Result ReadClaim(const SqlRow& row, Delivery* delivery) {
  SqlFields fields(kClaimColumns, row);
  delivery->attempts = static_cast<int>(fields.Int("attempts"));
  delivery->firstAttemptAt = fields.OptionalInt("first_attempt_at").value_or(0);
  delivery->event = {fields.Int("event_row"), fields.Text("message_id"), fields.Text("type"), fields.Int("made_at"),
                     fields.Text("data")};
  return ReadEndpointFields(fields, &delivery->endpoint);
}

const SqlColumns kRecordColumns({"ev.message_id", "ev.type", "d.attempts", "d.last_status", "d.last_error", "d.last_at",
                                 "d.delivered_at", "d.next_attempt_at"});

Result ReadRecord(const SqlRow& row, DeliveryRecord* record) {
  SqlFields fields(kRecordColumns, row);
  record->eventId = fields.Text("message_id");
  record->type = fields.Text("type");
  record->attempts = static_cast<int>(fields.Int("attempts"));
  const std::optional<int64_t> status = fields.OptionalInt("last_status");
  if (status) record->status = static_cast<int>(*status);
  record->error = fields.Text("last_error");
  record->lastAt = fields.OptionalInt("last_at").value_or(0);
  record->delivered = fields.OptionalInt("delivered_at").has_value();
  record->nextAt = fields.OptionalInt("next_attempt_at");
  return fields.result();
}

bool Takes(const WebhookEndpoint& endpoint, std::string_view type) {
  return endpoint.events.empty() ||
         std::find(endpoint.events.begin(), endpoint.events.end(), type) != endpoint.events.end();
}

// What the audit keeps of an endpoint: never its secret.
nlohmann::json EndpointJson(int64_t id, WebhookFormat format, std::string_view url,
                            const std::vector<std::string>& events) {
  return {{"webhook", id}, {"format", WordOf(format)}, {"url", ShownWebhookUrl(format, url)}, {"events", events}};
}

// Ok when `data` has exactly the fields webhook_events.h gives `type`.
Result CheckEventData(std::string_view type, const nlohmann::json& data) {
  const EventType* known = FindEventType(type);
  if (known == nullptr) return Result::Failed("no event type " + std::string(type));
  bool same = data.is_object() && data.size() == known->fields.size();
  for (const EventField& field : known->fields) same = same && data.contains(field.key);
  if (!same) return Result::Failed("the data of " + std::string(type) + " are not its fields: " + JsonText(data));
  return Result::Ok();
}

}  // namespace

Result SqlStore::InsertEvent(std::string_view type, const nlohmann::json& data, UnixTime now, int64_t* row) {
  std::string random;
  Result result = NewRef(&random);
  if (!result.ok()) return result;
  const SqlWrite event = SqlWrite()
                             .Set("message_id", "msg_" + random)
                             .Set("type", std::string(type))
                             .Set("made_at", now)
                             .Set("data", JsonText(data));
  std::vector<SqlRow> rows;
  result = db_->Query(event.Insert("events") + " RETURNING id", event.values(), &rows);
  return result.ok() ? SingleInt(rows, row) : result;
}

Result SqlStore::AppendEvent(std::string_view type, const nlohmann::json& data, UnixTime now) {
  Result result = CheckEventData(type, data);
  int64_t row = 0;
  if (result.ok()) result = InsertEvent(type, data, now, &row);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT " + kEndpointColumns.List() + " FROM webhook_endpoints e WHERE e.disabled_at IS NULL ORDER BY e.id",
                        {}, &rows);
  }
  std::vector<WebhookEndpoint> endpoints;
  if (result.ok()) result = ReadRecords(rows, ReadEndpoint, &endpoints);
  nlohmann::json takers = nlohmann::json::array();
  for (const WebhookEndpoint& endpoint : endpoints) {
    if (Takes(endpoint, type)) takers.push_back(endpoint.id);
  }
  if (!result.ok() || takers.empty()) return result;
  return db_->Query("INSERT INTO deliveries (event_id, endpoint_id, next_attempt_at) SELECT $1, value, $2 FROM (" +
                        db_->IntegerRows(3) + ") AS takers",
                    {row, now, takers.dump()}, nullptr);
}

Result SqlStore::ForgetEvents(UnixTime before) {
  Result result = db_->Query("DELETE FROM deliveries WHERE event_id IN (SELECT id FROM events WHERE made_at < $1)",
                             {before}, nullptr);
  return result.ok() ? db_->Query("DELETE FROM events WHERE made_at < $1", {before}, nullptr) : result;
}

Result SqlStore::AddWebhook(const NewWebhookEndpoint& endpoint, const Actor& actor, UnixTime now,
                            WebhookEndpoint* made) {
  Result result = CheckText(TextField::kWebhookUrl, endpoint.url);
  if (!result.ok()) return result;
  std::vector<std::string> events = endpoint.events;
  std::sort(events.begin(), events.end());
  events.erase(std::unique(events.begin(), events.end()), events.end());
  for (const std::string& type : events) {
    if (FindEventType(type) == nullptr) return Result::Invalid("there is no event type '" + type + "'");
  }
  if ((endpoint.format == WebhookFormat::kStandard) == endpoint.secret.empty()) {
    return Result::Invalid(endpoint.format == WebhookFormat::kStandard ? "a standard endpoint needs a secret"
                                                                       : "a discord endpoint's URL is its secret");
  }
  WebhookEndpoint record{0,          endpoint.url, endpoint.format, events,        endpoint.secret,
                         actor.name, now,          std::nullopt,    std::string(), std::nullopt};
  const SqlWrite row = SqlWrite()
                           .Set("url", record.url)
                           .Set("format", std::string(WordOf(record.format)))
                           .Set("event_types", JsonText(events))
                           .Set("secret", record.secret)
                           .Set("created_by", record.createdBy)
                           .Set("created_at", now);
  SqlTransaction transaction(*db_);
  result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) result = db_->Query(row.Insert("webhook_endpoints") + " RETURNING id", row.values(), &rows);
  if (result.ok()) result = SingleInt(rows, &record.id);
  if (result.ok()) {
    const nlohmann::json after = EndpointJson(record.id, record.format, record.url, events);
    result = AppendAudit(AuditLine(AuditAction::kWebhookAdd, actor, now, 0, "", JsonText(after)));
  }
  if (result.ok()) result = transaction.Commit();
  if (result.ok() && made != nullptr) *made = record;
  return result;
}

Result SqlStore::RemoveWebhook(int64_t id, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  WebhookEndpoint gone;
  if (result.ok()) result = EndpointById(id, &gone);
  if (result.ok()) result = db_->Query("DELETE FROM deliveries WHERE endpoint_id = $1", {id}, nullptr);
  if (result.ok()) result = db_->Query("DELETE FROM webhook_endpoints WHERE id = $1", {id}, nullptr);
  if (result.ok()) {
    const nlohmann::json before = EndpointJson(id, gone.format, gone.url, gone.events);
    result = AppendAudit(AuditLine(AuditAction::kWebhookRemove, actor, now, 0, JsonText(before), ""));
  }
  return result.ok() ? transaction.Commit() : result;
}

Result SqlStore::EndpointById(int64_t id, WebhookEndpoint* endpoint) {
  std::vector<SqlRow> rows;
  Result read =
      db_->Query("SELECT " + kEndpointColumns.List() + " FROM webhook_endpoints e WHERE e.id = $1", {id}, &rows);
  if (!read.ok()) return read;
  if (rows.empty()) return Result::NotFound("no webhook " + std::to_string(id));
  return ReadEndpoint(rows[0], endpoint);
}

Result SqlStore::Webhooks(std::vector<WebhookEndpoint>* endpoints) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kEndpointColumns.List() + " FROM webhook_endpoints e ORDER BY e.id", {}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadEndpoint, endpoints);
}

Result SqlStore::TestWebhook(int64_t id, const Actor& actor, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  WebhookEndpoint endpoint;
  if (result.ok()) result = EndpointById(id, &endpoint);
  if (!result.ok()) return result;
  // Its deliveries would wait for good: say so rather than queue one.
  if (endpoint.disabledAt) {
    return Result::Conflict("webhook " + std::to_string(id) + " is disabled: " + endpoint.disabledWhy);
  }
  const nlohmann::json data = {{"endpointId", id}, {"by", actor.name}};
  int64_t row = 0;
  result = InsertEvent(kTestEventType, data, now, &row);
  if (result.ok()) {
    const SqlWrite delivery = SqlWrite().Set("event_id", row).Set("endpoint_id", id).Set("next_attempt_at", now);
    result = db_->Query(delivery.Insert("deliveries"), delivery.values(), nullptr);
  }
  if (result.ok()) {
    result = AppendAudit(AuditLine(AuditAction::kWebhookTest, actor, now, 0, "", JsonText({{"webhook", id}})));
  }
  return result.ok() ? transaction.Commit() : result;
}

Result SqlStore::ClaimDeliveries(UnixTime now, UnixTime lease, std::size_t limit, std::size_t perEndpoint,
                                 std::vector<Delivery>* deliveries) {
  deliveries->clear();
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  // The enabled endpoints, the least busy first.
  std::vector<SqlRow> endpoints;
  if (result.ok()) {
    result = db_->Query("SELECT " + kEndpointRoomColumns.List() +
                            " FROM webhook_endpoints e WHERE e.disabled_at IS NULL ORDER BY busy, e.id",
                        {now}, &endpoints);
  }
  // Each endpoint's oldest due ones, as many as it has room for.
  nlohmann::json ids = nlohmann::json::array();
  for (std::size_t i = 0; result.ok() && i < endpoints.size() && ids.size() < limit; ++i) {
    SqlFields fields(kEndpointRoomColumns, endpoints[i]);
    const int64_t endpoint = fields.Int("id");
    const int64_t busy = fields.Int("busy");
    result = fields.result();
    const auto room = std::min<int64_t>(static_cast<int64_t>(std::min<std::size_t>(perEndpoint, INT64_MAX)) - busy,
                                        static_cast<int64_t>(limit - ids.size()));
    if (!result.ok() || room <= 0) continue;
    std::vector<SqlRow> due;
    result = db_->Query("SELECT d.id FROM deliveries d WHERE d.endpoint_id = $2 AND d.next_attempt_at <= $1 AND "
                        "(d.claimed_until IS NULL OR d.claimed_until <= $1) "
                        "ORDER BY d.next_attempt_at, d.event_id LIMIT $3 " +
                            db_->SkipLocked("d"),
                        {now, endpoint, room}, &due);
    for (std::size_t row = 0; result.ok() && row < due.size(); ++row) {
      int64_t id = 0;
      result = SingleInt({due[row]}, &id);
      ids.push_back(id);
    }
  }
  if (!result.ok() || ids.empty()) return result;
  result = db_->Query("UPDATE deliveries SET claimed_until = $1 WHERE id IN (" + db_->IntegerRows(2) + ")",
                      {now + lease, ids.dump()}, nullptr);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    result = db_->Query("SELECT " + kClaimColumns.List() +
                            " FROM deliveries d JOIN events ev ON ev.id = d.event_id "
                            "JOIN webhook_endpoints e ON e.id = d.endpoint_id WHERE d.id IN (" +
                            db_->IntegerRows(1) + ") ORDER BY d.next_attempt_at, d.event_id, d.endpoint_id",
                        {ids.dump()}, &rows);
  }
  std::vector<Delivery> claimed;
  if (result.ok()) result = ReadRecords(rows, ReadClaim, &claimed);
  if (result.ok()) result = transaction.Commit();
  if (result.ok()) *deliveries = std::move(claimed);
  return result;
}

Result SqlStore::FinishDelivery(int64_t eventRow, int64_t endpointId, const DeliveryOutcome& outcome, UnixTime now) {
  SqlTransaction transaction(*db_);
  Result result = transaction.Begin(true);
  std::vector<SqlRow> rows;
  if (result.ok()) {
    const std::optional<UnixTime> next = outcome.delivered ? std::nullopt : outcome.nextAt;
    result = db_->Query(
        "UPDATE deliveries SET attempts = attempts + 1, first_attempt_at = COALESCE(first_attempt_at, $3), "
        "last_at = $3, last_status = $4, last_error = $5, next_attempt_at = $6, delivered_at = $7, "
        "claimed_until = NULL WHERE event_id = $1 AND endpoint_id = $2 RETURNING id",
        {eventRow, endpointId, now, outcome.status ? SqlValue(int64_t{*outcome.status}) : nullptr,
         outcome.delivered ? std::string() : outcome.error, OptionalValue(next),
         outcome.delivered ? SqlValue(now) : nullptr},
        &rows);
  }
  if (!result.ok()) return result;
  if (rows.empty()) {
    return Result::NotFound("no delivery of event " + std::to_string(eventRow) + " to webhook " +
                            std::to_string(endpointId));
  }
  // A delivery ends the endpoint's run of failures; a failure starts one.
  result = db_->Query(outcome.delivered ? "UPDATE webhook_endpoints SET failing_since = NULL WHERE id = $1"
                                        : "UPDATE webhook_endpoints SET failing_since = COALESCE(failing_since, $2) "
                                          "WHERE id = $1",
                      outcome.delivered ? std::vector<SqlValue>{endpointId} : std::vector<SqlValue>{endpointId, now},
                      nullptr);
  if (result.ok() && outcome.disableEndpoint) {
    result = db_->Query(
        "UPDATE webhook_endpoints SET disabled_at = $2, disabled_why = $3 WHERE id = $1 AND disabled_at IS NULL",
        {endpointId, now, outcome.disableWhy}, nullptr);
  }
  return result.ok() ? transaction.Commit() : result;
}

Result SqlStore::RecentDeliveries(int64_t endpointId, std::size_t limit, std::vector<DeliveryRecord>* records) {
  std::vector<SqlRow> rows;
  Result read = db_->Query("SELECT " + kRecordColumns.List() +
                               " FROM deliveries d JOIN events ev ON ev.id = d.event_id WHERE d.endpoint_id = $1 "
                               "ORDER BY d.event_id DESC LIMIT $2",
                           {endpointId, static_cast<int64_t>(std::min<std::size_t>(limit, INT64_MAX))}, &rows);
  if (!read.ok()) return read;
  return ReadRecords(rows, ReadRecord, records);
}

}  // namespace palisard
