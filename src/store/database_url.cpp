#include "store/database_url.h"

namespace palisard {
namespace {

bool IsPostgresUrl(const std::string& url) {
  return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

}  // namespace

std::optional<std::string> SqlitePath(const std::string& url) {
  if (IsPostgresUrl(url)) return std::nullopt;
  return url.rfind("sqlite:", 0) == 0 ? url.substr(7) : url;
}

std::string ShownDatabase(const std::string& url) {
  if (!IsPostgresUrl(url)) return url;
  std::string shown = url;
  // "user:PASSWORD@" stands before the host, ahead of any path or query.
  const std::size_t userStart = shown.find("://") + 3;
  const std::string authority = shown.substr(userStart, shown.find_first_of("/?", userStart) - userStart);
  const std::size_t at = authority.rfind('@');
  const std::size_t colon = authority.find(':');
  if (at != std::string::npos && colon < at) shown.replace(userStart + colon + 1, at - colon - 1, "***");
  const std::size_t parameter = shown.find("password=");
  if (parameter != std::string::npos) {
    const std::size_t value = parameter + 9;
    shown.replace(value, shown.find('&', value) - value, "***");
  }
  return shown;
}

}  // namespace palisard
