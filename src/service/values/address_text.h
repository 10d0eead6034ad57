#pragma once

#include <boost/asio/ip/address.hpp>

#include <optional>
#include <string>

namespace palisard {

// Addresses as the service meets them, in text: a peer's, the client a
// load balancer names, a proxy in the settings. An IPv4 address mapped into
// IPv6 (how a dual-stack listener sees an IPv4 peer) is that IPv4 address.

// The address `text` writes ("203.0.113.7", "2001:db8::1", and
// "::ffff:203.0.113.7" as 203.0.113.7); nothing for text that is not one.
std::optional<boost::asio::ip::address> ParseAddress(const std::string& text);

// Whether `text` is an address of this machine's loopback (127.0.0.0/8, ::1).
bool IsLoopback(const std::string& text);

}  // namespace palisard
