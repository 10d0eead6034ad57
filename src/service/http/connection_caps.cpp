#include "service/http/connection_caps.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <optional>

#include "service/values/source_network.h"

namespace palisard {

namespace {

// The address, an IPv4 one mapped into IPv6 as IPv4; nothing for text that
// is not an address.
std::optional<boost::asio::ip::address> Unmapped(const std::string& text) {
  boost::system::error_code error;
  const boost::asio::ip::address parsed = boost::asio::ip::make_address(text, error);
  if (error) return std::nullopt;
  if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6());
  }
  return parsed;
}

}  // namespace

bool ConnectionCaps::Take(std::unordered_map<std::string, std::size_t>& counts, const std::string& key,
                          std::size_t cap) {
  std::size_t& count = counts[key];
  if (count >= cap) {
    if (count == 0) counts.erase(key);
    return false;
  }
  ++count;
  return true;
}

void ConnectionCaps::Give(std::unordered_map<std::string, std::size_t>& counts, const std::string& key) {
  // A key that is not counted was admitted without its cap.
  auto found = counts.find(key);
  if (found != counts.end() && --found->second == 0) counts.erase(found);
}

ConnectionCaps::Place ConnectionCaps::Admit(const std::string& source, const std::string& network, bool perSourceCap) {
  MutexLock lock(mutex_);
  const bool shared = shared_ + limits_.reserved < limits_.total;
  if (!shared && kept_ >= limits_.reserved) return Place::kRefused;
  if (perSourceCap) {
    if (!Take(bySource_, source, limits_.perSource)) return Place::kRefused;
    if (!Take(byNetwork_, network, limits_.perNetwork)) {
      Give(bySource_, source);
      return Place::kRefused;
    }
  }
  ++(shared ? shared_ : kept_);
  return shared ? Place::kShared : Place::kKept;
}

void ConnectionCaps::Release(const std::string& source, const std::string& network, Place place) {
  MutexLock lock(mutex_);
  Give(bySource_, source);
  Give(byNetwork_, network);
  --(place == Place::kKept ? kept_ : shared_);
}

std::string CapSource(const std::string& address) {
  const std::optional<boost::asio::ip::address> parsed = Unmapped(address);
  if (!parsed) return address;
  if (parsed->is_v4()) return parsed->to_string();
  return SourceNetwork(address).value_or(address);
}

std::string ForwardedClient(const std::vector<std::string>& fields, const std::string& peer) {
  const std::string forwarded = fields.empty() ? std::string() : fields.back();
  std::string client = forwarded.substr(forwarded.rfind(',') + 1);
  client.erase(0, client.find_first_not_of(" \t"));
  client.erase(client.find_last_not_of(" \t") + 1);
  return SourceNetwork(client) ? client : peer;
}

bool IsTrustedProxy(const std::vector<std::string>& proxies, const std::string& peer) {
  const std::optional<boost::asio::ip::address> address = Unmapped(peer);
  return address && std::any_of(proxies.begin(), proxies.end(),
                                [&](const std::string& proxy) { return Unmapped(proxy) == address; });
}

std::string CapNetwork(const std::string& address) {
  const std::optional<boost::asio::ip::address> parsed = Unmapped(address);
  if (!parsed || parsed->is_v4()) return SourceNetwork(address).value_or(address);
  boost::asio::ip::address_v6::bytes_type bytes = parsed->to_v6().to_bytes();
  for (std::size_t i = 6; i < bytes.size(); ++i) bytes[i] = 0;
  return boost::asio::ip::address_v6(bytes).to_string() + "/48";
}

}  // namespace palisard
