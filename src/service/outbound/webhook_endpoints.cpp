#include "service/outbound/webhook_endpoints.h"

#include "service/outbound/destination_rule.h"
#include "service/outbound/webhook_signature.h"

namespace palisard {

Result ReadyWebhook(NewWebhookEndpoint* endpoint, bool allowPrivate) {
  Result result = CheckDestination(endpoint->url, allowPrivate);
  // A refused destination is the URL's fault, as a malformed one is.
  if (result.kind() == Result::Kind::kRefused) return Result::Invalid("refused: " + result.text());
  endpoint->secret.clear();
  if (result.ok() && endpoint->format == WebhookFormat::kStandard) result = NewWebhookSecret(&endpoint->secret);
  return result;
}

}  // namespace palisard
