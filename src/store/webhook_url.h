#pragma once

#include <string>
#include <string_view>

#include "store/record_words.h"

namespace palisard {

// An endpoint's URL as people see it: the audit, the command line and the
// pages. A discord endpoint's URL is its secret (whoever has it posts to the
// channel), so its last path segment, query and fragment become "…" and
// any user information goes: "https://discord.com/api/webhooks/123/…". A
// standard endpoint's URL is shown as it is; its secret is kept apart.
std::string ShownWebhookUrl(WebhookFormat format, std::string_view url);

}  // namespace palisard
