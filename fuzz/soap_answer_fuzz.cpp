// Ban-service answers: the result and status elements, and chunked bodies.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http_client.h"
#include "soap/soap_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  (void)palisard::ParseAddInfractionResult(body);
  (void)palisard::ParseBanStatuses(body);
  // Whole and byte by byte, the decoder must agree.
  palisard::ChunkedDecoder whole;
  palisard::ChunkedDecoder bytes;
  const palisard::ChunkedDecoder::Progress wholeResult = whole.Feed(body.data(), body.size());
  palisard::ChunkedDecoder::Progress byteResult = palisard::ChunkedDecoder::kNeedMore;
  for (std::size_t i = 0; i < body.size() && byteResult == palisard::ChunkedDecoder::kNeedMore; ++i) {
    byteResult = bytes.Feed(body.data() + i, 1);
  }
  if (wholeResult != byteResult || (wholeResult == palisard::ChunkedDecoder::kDone && whole.body() != bytes.body()))
    __builtin_trap();
  return 0;
}
