#include "service/connection_caps.h"

#include <boost/asio/ip/address.hpp>

#include "service/source_network.h"

namespace palisard {

bool ConnectionCaps::Admit(const std::string& source, bool perSourceCap) {
  MutexLock lock(mutex_);
  if (open_ >= total_) return false;
  if (!perSourceCap) {
    ++open_;
    return true;
  }
  std::size_t& fromSource = bySource_[source];
  if (fromSource >= perSource_) {
    if (fromSource == 0) bySource_.erase(source);
    return false;
  }
  ++fromSource;
  ++open_;
  return true;
}

void ConnectionCaps::Release(const std::string& source) {
  MutexLock lock(mutex_);
  // A source that is not counted was admitted without its cap.
  auto found = bySource_.find(source);
  if (found != bySource_.end() && --found->second == 0) bySource_.erase(found);
  --open_;
}

std::string CapSource(const std::string& address) {
  boost::system::error_code error;
  const boost::asio::ip::address parsed = boost::asio::ip::make_address(address, error);
  if (error) return address;
  if (parsed.is_v4()) return parsed.to_string();
  const boost::asio::ip::address_v6 v6 = parsed.to_v6();
  if (v6.is_v4_mapped()) return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string();
  return SourceNetwork(address).value_or(address);
}

}  // namespace palisard
