#include "service/values/base64_text.h"

#include <sodium.h>

namespace palisard {

// Base64 picks no implementation at run time, so it needs no sodium_init.
std::string Base64Text(std::string_view bytes) {
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();  // the terminating zero
  return text;
}

bool DecodeBase64(std::string_view text, bool unpadded, std::string* bytes) {
  std::string decoded(text.size() / 4 * 3 + 3, '\0');
  std::size_t size = 0;
  const int variant = unpadded ? sodium_base64_VARIANT_ORIGINAL_NO_PADDING : sodium_base64_VARIANT_ORIGINAL;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(decoded.data()), decoded.size(), text.data(), text.size(),
                        nullptr, &size, nullptr, variant) != 0) {
    return false;
  }
  decoded.resize(size);
  *bytes = std::move(decoded);
  return true;
}

}  // namespace palisard
