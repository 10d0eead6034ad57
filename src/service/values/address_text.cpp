#include "service/values/address_text.h"

namespace palisard {

std::optional<boost::asio::ip::address> ParseAddress(const std::string& text) {
  boost::system::error_code error;
  const boost::asio::ip::address parsed = boost::asio::ip::make_address(text, error);
  if (error) return std::nullopt;
  if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6());
  }
  return parsed;
}

bool IsLoopback(const std::string& text) {
  const std::optional<boost::asio::ip::address> address = ParseAddress(text);
  return address && address->is_loopback();
}

}  // namespace palisard
