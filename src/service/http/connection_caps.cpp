#include "service/http/connection_caps.h"

#include <algorithm>
#include <optional>

#include "common/ascii_text.h"
#include "service/values/address_text.h"
#include "service/values/source_network.h"

namespace palisard {

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
  const std::optional<boost::asio::ip::address> parsed = ParseAddress(address);
  if (!parsed) return address;
  if (parsed->is_v4()) return parsed->to_string();
  return SourceNetwork(address).value_or(address);
}

std::string ForwardedClient(const std::vector<std::string>& fields, const std::string& peer) {
  const std::string forwarded = fields.empty() ? std::string() : fields.back();
  const std::string client(Trimmed(std::string_view(forwarded).substr(forwarded.rfind(',') + 1)));
  return ParseAddress(client) ? client : peer;
}

bool IsTrustedProxy(const std::vector<std::string>& proxies, const std::string& peer) {
  const std::optional<boost::asio::ip::address> address = ParseAddress(peer);
  return address && std::any_of(proxies.begin(), proxies.end(),
                                [&](const std::string& proxy) { return ParseAddress(proxy) == address; });
}

std::string CapNetwork(const std::string& address) {
  const std::optional<boost::asio::ip::address> parsed = ParseAddress(address);
  if (!parsed || parsed->is_v4()) return SourceNetwork(address).value_or(address);
  boost::asio::ip::address_v6::bytes_type bytes = parsed->to_v6().to_bytes();
  for (std::size_t i = 6; i < bytes.size(); ++i) bytes[i] = 0;
  return boost::asio::ip::address_v6(bytes).to_string() + "/48";
}

}  // namespace palisard
