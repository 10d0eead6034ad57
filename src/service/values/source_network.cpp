#include "service/values/source_network.h"

#include "service/values/address_text.h"

namespace palisard {

std::optional<std::string> SourceNetwork(const std::string& address) {
  const std::optional<boost::asio::ip::address> parsed = ParseAddress(address);
  if (!parsed) return std::nullopt;
  if (parsed->is_v4()) {
    boost::asio::ip::address_v4::bytes_type bytes = parsed->to_v4().to_bytes();
    bytes[3] = 0;
    return boost::asio::ip::address_v4(bytes).to_string() + "/24";
  }
  boost::asio::ip::address_v6::bytes_type bytes = parsed->to_v6().to_bytes();
  for (std::size_t i = 8; i < bytes.size(); ++i) bytes[i] = 0;
  return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

}  // namespace palisard
