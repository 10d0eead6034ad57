#pragma once

#include <string>

#include "common/result.h"
#include "service/feed/feed_signature.h"

namespace palisard {

// The feed's secret key in its file (FeedKeyText), readable by its owner
// alone. A new key is never written over an old one: followers hold the
// old public key, and a page signed with another key is refused.

// kInvalid when `path` exists already; kFailed when it cannot be written.
Result WriteNewFeedKey(const std::string& path, const FeedKey& key);
// kNotFound when there is no file at `path`; kInvalid for one that holds
// no key.
Result ReadFeedKey(const std::string& path, FeedKey* key);

}  // namespace palisard
