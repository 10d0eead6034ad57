// The HTTP parser fed the input at split points taken from its first bytes;
// the result must not depend on the splits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t stride = 1 + data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  palisard::HttpMessage whole(4096);
  whole.Feed(text.data(), text.size());
  palisard::HttpMessage pieces(4096);
  for (std::size_t at = 0; at < text.size(); at += stride) {
    pieces.Feed(text.data() + at, std::min(stride, text.size() - at));
  }
  if (whole.status != pieces.status || whole.contentLength != pieces.contentLength) std::abort();
  if (whole.status == palisard::HttpMessage::kComplete) {
    if (std::string(whole.Target()) != pieces.Target()) std::abort();
    // The announced body is the same; what followed it in one piece is not
    // part of it.
    if (whole.Body() != nullptr &&
        std::string(whole.Body(), whole.contentLength) != std::string(pieces.Body(), pieces.contentLength)) {
      std::abort();
    }
    (void)whole.HeaderValue("transfer-encoding");
  }
  return 0;
}
