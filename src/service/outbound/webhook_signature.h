#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "service/outbound/http_client.h"

namespace palisard {

// Signing as Standard Webhooks 1.0 has it, so that a receiver verifies our
// deliveries with any of that standard's libraries. An endpoint's secret is
// written "whsec_" and the standard base64 of its key; the key is random,
// and kept by the service so it can sign.

// A new secret: "whsec_" and 32 random bytes. kFailed when the system's
// generator gave none.
Result NewWebhookSecret(std::string* secret);

// The key of a secret: "whsec_" and the base64 (padded or not) of 24 to 64
// bytes. kInvalid for anything else.
Result ParseWebhookSecret(std::string_view secret, std::string* key);

// "v1," and the base64 of HMAC-SHA256 over "ID.TIMESTAMP.BODY" with `key`.
// `id` is the event's, the same on every retry, so receivers drop repeats;
// `timestamp` (Unix seconds) is the attempt's. Neither holds a '.': they
// come from the service, never from a request.
std::string WebhookSignature(std::string_view key, std::string_view id, int64_t timestamp, std::string_view body);

// The request headers of one signed attempt: webhook-id, webhook-timestamp,
// webhook-signature, and the body's Content-Type (JSON).
HeaderList SignedWebhookHeaders(std::string_view key, std::string_view id, int64_t timestamp, std::string_view body);

}  // namespace palisard
