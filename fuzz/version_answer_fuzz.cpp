// The version server's answer: the HTTP message, then the version file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/version_check.h"
#include "net/http_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  palisard::HttpMessage answer(1024 * 1024);
  answer.Feed(reinterpret_cast<const char*>(data), size);
  if (answer.status == palisard::HttpMessage::kComplete && answer.Body() != nullptr) {
    (void)palisard::ParseVersionFile(answer.Body());
  }
  (void)palisard::ParseVersionFile(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
