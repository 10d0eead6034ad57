#pragma once

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// Readies a new endpoint for the store's AddWebhook, as the command line
// and the admins' page both do: its URL's destination checked
// (CheckDestination, `allowPrivate` as the setting webhook-allow-private
// says) and, for the standard format, a new secret. kInvalid for a URL the
// rule refuses ("refused: 10.0.0.1 is a private address; ...") or cannot
// read; kUnreachable for a host that resolves to nothing. Blocks while the
// host's name resolves.
Result ReadyWebhook(NewWebhookEndpoint* endpoint, bool allowPrivate);

}  // namespace palisard
