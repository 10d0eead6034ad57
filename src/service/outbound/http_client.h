#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"

namespace palisard {

// The service's own HTTP requests to the outside world (webhook deliveries,
// followed feeds), through libcurl.

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct OutboundRequest {
  std::string method = "POST";  // GET and HEAD send no body
  std::string url;              // http:// or https:// only
  HeaderList headers;
  std::string body;
};

// A receiver that is slow, silent or endless costs one request its time
// and a bounded amount of memory, never more.
struct OutboundLimits {
  std::chrono::milliseconds connect{5'000};
  std::chrono::milliseconds total{15'000};  // the whole exchange, however the answer trickles in
  std::size_t keptBody = 4 * 1024;          // the transfer ends once the answer's body passes this
};

struct OutboundSettings {
  OutboundLimits limits;
  bool allowPrivate = false;  // webhook-allow-private: see destination_rule.h
  std::string extraCaFile;    // webhook-ca-file: PEM certificates trusted besides the system's
};

struct OutboundAnswer {
  long status = 0;
  HeaderList headers;  // the final answer's, names in lower case, at most a few KB of them
  std::string body;    // its first OutboundLimits::keptBody bytes
  bool bodyCut = false;

  // The first header named `name` (lower case), or nothing.
  std::optional<std::string> Header(std::string_view name) const;
};

// Sends one request and reads the answer within `settings`: ok with any
// status once an answer came (a 3xx included: redirects are not followed),
// or why none did: kRefused for a destination the address rule refuses
// (checked on each address actually connected to), kTimedOut, kUnreachable
// when the host does not resolve or the connection fails, kFailed for TLS
// failures and broken answers, kInvalid for a request that cannot be sent
// (a scheme other than http or https, a header with a line break in it).
// Proxies named in the environment are not used: they would connect for
// us, out of the address rule's reach. Thread-safe; blocks the calling
// thread for at most the limits.
Result SendOutboundRequest(const OutboundRequest& request, const OutboundSettings& settings, OutboundAnswer* answer);

}  // namespace palisard
