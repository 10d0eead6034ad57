#pragma once

#include <string>
#include <string_view>

namespace palisard {

// Base64 in the standard alphabet (RFC 4648 §4), padded: what webhook
// secrets and signatures and minisign's keys and signatures are written in.
std::string Base64Text(std::string_view bytes);
// The bytes of base64 in the standard alphabet, padded or (with
// `unpadded`) without padding; false for anything else.
bool DecodeBase64(std::string_view text, bool unpadded, std::string* bytes);

}  // namespace palisard
