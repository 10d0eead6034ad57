#include "store/webhook_url.h"

namespace palisard {

std::string ShownWebhookUrl(WebhookFormat format, std::string_view url) {
  if (format != WebhookFormat::kDiscord) return std::string(url);
  const std::size_t scheme = url.find("://");
  const std::size_t hostAt = scheme == std::string_view::npos ? 0 : scheme + 3;
  // The path ends where the query or the fragment begins.
  const std::string_view address = url.substr(0, url.find_first_of("?#", hostAt));
  std::size_t pathAt = address.find('/', hostAt);
  if (pathAt == std::string_view::npos) pathAt = address.size();
  std::string_view host = address.substr(hostAt, pathAt - hostAt);
  if (const std::size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  const std::size_t lastSlash = address.rfind('/');
  const std::string_view path =
      lastSlash == std::string_view::npos || lastSlash < pathAt ? "/" : address.substr(pathAt, lastSlash - pathAt + 1);
  return std::string(url.substr(0, hostAt)) + std::string(host) + std::string(path) + "…";
}

}  // namespace palisard
