#include "service/outbound/destination_rule.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <strings.h>

#include <memory>
#include <optional>

namespace palisard {
namespace {

struct Range {
  uint8_t prefix[16];
  int bits;
  const char* what;
};

constexpr const char* kPrivate = "a private address";
constexpr const char* kLinkLocal = "a link-local address";
constexpr const char* kMulticast = "a multicast address";

constexpr Range kMetadataV4[] = {
    {{169, 254, 169, 254}, 32, nullptr},
    {{100, 100, 100, 200}, 32, nullptr},
};
constexpr Range kMetadataV6[] = {
    {{0xfd, 0x00, 0x0e, 0xc2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x54}, 128, nullptr},
};
constexpr Range kPrivateV4[] = {
    {{0}, 8, "an unspecified address"},
    {{127}, 8, "a loopback address"},
    {{10}, 8, kPrivate},
    {{172, 16}, 12, kPrivate},
    {{192, 168}, 16, kPrivate},
    {{100, 64}, 10, "a shared (carrier-grade NAT) address"},
    {{169, 254}, 16, kLinkLocal},
    {{224}, 4, kMulticast},
    {{240}, 4, "a reserved address"},
};
constexpr Range kPrivateV6[] = {
    {{0}, 128, "an unspecified address"},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128, "a loopback address"},
    {{0xfc}, 7, "a unique-local address"},
    {{0xfe, 0x80}, 10, kLinkLocal},
    {{0xfe, 0xc0}, 10, "a site-local address"},
    {{0xff}, 8, kMulticast},
};
// IPv6 addresses that reach the IPv4 address in their last four bytes:
// IPv4-mapped, and the NAT64 well-known prefix.
constexpr Range kCarriesIpv4[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff}, 96, nullptr},
    {{0x00, 0x64, 0xff, 0x9b}, 96, nullptr},
};

bool InRange(const Range& range, std::span<const uint8_t> address) {
  int bits = range.bits;
  for (std::size_t i = 0; bits > 0; ++i, bits -= 8) {
    const auto mask = static_cast<uint8_t>(bits >= 8 ? 0xff : 0xff << (8 - bits));
    if ((address[i] & mask) != range.prefix[i]) return false;
  }
  return true;
}

const Range* Find(std::span<const Range> ranges, std::span<const uint8_t> address) {
  for (const Range& range : ranges) {
    if (InRange(range, address)) return &range;
  }
  return nullptr;
}

struct Refusal {
  const char* what;
  bool always;  // whatever webhook-allow-private says
};

std::optional<Refusal> RefusalOf(std::span<const uint8_t> address) {
  const bool v4 = address.size() == 4;
  if (!v4 && Find(kCarriesIpv4, address)) return RefusalOf(address.subspan(12));
  using Ranges = std::span<const Range>;
  if (Find(v4 ? Ranges(kMetadataV4) : Ranges(kMetadataV6), address)) {
    return Refusal{"a cloud metadata address", true};
  }
  if (const Range* range = Find(v4 ? Ranges(kPrivateV4) : Ranges(kPrivateV6), address)) {
    return Refusal{range->what, false};
  }
  return std::nullopt;
}

std::string AddressText(std::span<const uint8_t> address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(address.size() == 4 ? AF_INET : AF_INET6, address.data(), text, sizeof(text));
  return text;
}


// The host of an http:// or https:// URL, without the brackets of an IPv6
// literal.
Result UrlHost(const std::string& url, std::string* host) {
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return Result::Invalid("'" + url + "' is not a URL");
  }
  const auto part = [&](CURLUPart which) {
    char* text = nullptr;
    std::string value;
    if (curl_url_get(parsed.get(), which, &text, 0) == CURLUE_OK) value = text;
    curl_free(text);
    return value;
  };
  const std::string scheme = part(CURLUPART_SCHEME);
  if (strcasecmp(scheme.c_str(), "http") != 0 && strcasecmp(scheme.c_str(), "https") != 0) {
    return Result::Invalid("'" + url + "' is not an http:// or https:// URL");
  }
  *host = part(CURLUPART_HOST);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  return host->empty() ? Result::Invalid("'" + url + "' names no host") : Result::Ok();
}

std::span<const uint8_t> AddressBytes(const addrinfo& entry) {
  if (entry.ai_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(entry.ai_addr);
    return {reinterpret_cast<const uint8_t*>(&v4->sin_addr), 4};
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(entry.ai_addr);
  return {reinterpret_cast<const uint8_t*>(&v6->sin6_addr), 16};
}

}  // namespace

Result CheckAddress(std::span<const uint8_t> address, bool allowPrivate) {
  if (address.size() != 4 && address.size() != 16) return Result::Invalid("not an IPv4 or IPv6 address");
  const std::optional<Refusal> refusal = RefusalOf(address);
  if (!refusal || (allowPrivate && !refusal->always)) return Result::Ok();
  std::string text = AddressText(address) + " is " + refusal->what;
  text += refusal->always ? ", never a destination" : "; set webhook-allow-private to allow it";
  return Result::Failure(Result::Kind::kRefused, 0, std::move(text));
}

Result CheckDestination(const std::string& url, bool allowPrivate) {
  std::string host;
  if (Result parsed = UrlHost(url, &host); !parsed.ok()) return parsed;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (resolved != 0) {
    return Result::Failure(Result::Kind::kUnreachable, resolved, host + " does not resolve: " + gai_strerror(resolved));
  }
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    const std::span<const uint8_t> address = AddressBytes(*entry);
    Result allowed = CheckAddress(address, allowPrivate);
    if (allowed.ok()) continue;
    const bool literal = AddressText(address) == host;
    return literal ? allowed : Result::Failure(allowed.kind(), 0, host + ": " + allowed.text());
  }
  return Result::Ok();
}

}  // namespace palisard
