// Ban-service answers: the result and status elements, and chunked bodies.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bans/soap_messages.h"
#include "net/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  (void)palisard::ParseAddInfractionResult(body);
  (void)palisard::ParseBanStatuses(body);
  std::string decoded;
  (void)palisard::DecodeChunkedBody(body, &decoded);
  return 0;
}
