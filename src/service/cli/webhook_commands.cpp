#include "service/cli/webhook_commands.h"

#include <ostream>

#include "service/cli/record_lines.h"
#include "service/outbound/webhook_endpoints.h"
#include "service/values/record_values.h"
#include "store/webhook_events.h"
#include "store/webhook_url.h"

namespace palisard {
namespace {

// "TYPE,TYPE": each a type of webhook_events.h (the store refuses others).
std::vector<std::string> EventList(const std::string& text) {
  std::vector<std::string> types;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    types.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return types;
}

std::string EventsText(const std::vector<std::string>& events) {
  if (events.empty()) return "all events";
  std::string text;
  for (const std::string& type : events) text += (text.empty() ? "" : ",") + type;
  return text;
}

// "enabled", "enabled, failing since WHEN" or "disabled WHEN: WHY".
std::string StateText(const WebhookEndpoint& endpoint) {
  if (endpoint.disabledAt) {
    return "disabled " + FormatUtcTime(*endpoint.disabledAt) + ": " + ShownText(endpoint.disabledWhy);
  }
  if (endpoint.failingSince) return "enabled, failing since " + FormatUtcTime(*endpoint.failingSince);
  return "enabled";
}

std::string EndpointLine(const WebhookEndpoint& endpoint) {
  return std::to_string(endpoint.id) + "  " + std::string(WordOf(endpoint.format)) + "  " +
         ShownText(ShownWebhookUrl(endpoint.format, endpoint.url)) + "  " + ShownText(EventsText(endpoint.events)) +
         "  " + StateText(endpoint);
}

Result RunAdd(const CommandArguments& args, CliContext& context) {
  NewWebhookEndpoint endpoint;
  endpoint.url = args.operands()[0];
  const std::optional<WebhookFormat> format = ValueOfWord<WebhookFormat>(*args.Value("format"));
  if (!format) return Result::Invalid("--format is standard or discord, not '" + *args.Value("format") + "'");
  endpoint.format = *format;
  if (const std::string* events = args.Value("events")) endpoint.events = EventList(*events);
  Result result = ReadyWebhook(&endpoint, args.Flag("webhook-allow-private"));
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  WebhookEndpoint made;
  if (result.ok()) result = store->AddWebhook(endpoint, CliActor(context), context.now, &made);
  if (!result.ok()) return result;
  context.out << "added webhook " << EndpointLine(made) << "\n";
  if (!made.secret.empty()) {
    context.out << "secret " << made.secret << "\n(shown only now: the receiver checks each delivery's signature "
                << "with it)\n";
  }
  return Result::Ok();
}

Result RunList(const CommandArguments& args, CliContext& context) {
  std::unique_ptr<Store> store;
  Result result = OpenCommandStore(args, &store);
  std::vector<WebhookEndpoint> endpoints;
  if (result.ok()) result = store->Webhooks(&endpoints);
  if (!result.ok()) return result;
  for (const WebhookEndpoint& endpoint : endpoints) context.out << EndpointLine(endpoint) << "\n";
  return Result::Ok();
}

Result RunRemove(const CommandArguments& args, CliContext& context) {
  int64_t id = 0;
  Result result = ParseWebhookId(args.operands()[0], &id);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->RemoveWebhook(id, CliActor(context), context.now);
  if (!result.ok()) return result;
  context.out << "removed webhook " << id << " and the deliveries it had waiting\n";
  return Result::Ok();
}

Result RunTest(const CommandArguments& args, CliContext& context) {
  int64_t id = 0;
  Result result = ParseWebhookId(args.operands()[0], &id);
  std::unique_ptr<Store> store;
  if (result.ok()) result = OpenCommandStore(args, &store);
  if (result.ok()) result = store->TestWebhook(id, CliActor(context), context.now);
  if (!result.ok()) return result;
  context.out << "queued a webhook.test event for webhook " << id << ": the running service sends it\n";
  return Result::Ok();
}

std::string EventNames() {
  std::string names;
  for (const EventType& type : kEventTypes) names += (names.empty() ? "" : ", ") + std::string(type.name);
  return names;
}

}  // namespace

std::vector<Command> WebhookCommands() {
  return {
      {{"webhook add",
        {"URL"},
        "add an endpoint that events go to",
        "standard: signed JSON (Standard Webhooks); its secret is printed once. discord: a Discord channel's\n"
        "webhook URL, which is its secret and is shown masked from then on. The events:\n" +
            EventNames() + ".",
        StoreOptions({{"format", "standard|discord", "what the receiver takes", true},
                      {"events", "TYPE,...", "only these events (default: all)"},
                      {"webhook-allow-private", "", "allow a receiver on loopback or a private network"}})},
       RunAdd},
      {{"webhook list", {}, "list the webhook endpoints and their state", "", StoreOptions()}, RunList},
      {{"webhook remove", {"ID"}, "remove an endpoint and the deliveries it has waiting", "", StoreOptions()},
       RunRemove},
      {{"webhook test", {"ID"}, "send an endpoint a webhook.test event", "", StoreOptions()}, RunTest},
  };
}

}  // namespace palisard
