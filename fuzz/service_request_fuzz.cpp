// Requests to the ban service: whatever the body, the reader answers with a
// request or a refusal, and a request it reads keeps the contract's bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "soap/soap_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  palisard::ServiceRequest request;
  palisard::FaultCode fault = palisard::FaultCode::kServer;
  const palisard::Result read =
      palisard::ParseServiceRequest(std::string(reinterpret_cast<const char*>(data), size), &request, &fault);
  if (!read.ok()) {
    if (read.text().empty()) __builtin_trap();
    return 0;
  }
  if (request.ids.size() > palisard::kMaxAskedIds) __builtin_trap();
  std::unordered_set<uint64_t> seen;
  for (uint64_t id : request.ids) {
    if (id == 0 || !seen.insert(id).second) __builtin_trap();
  }
  return 0;
}
