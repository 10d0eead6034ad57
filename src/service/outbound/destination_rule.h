#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"

namespace palisard {

// Where the service's own requests (webhook deliveries, followed feeds) may
// go. Whoever adds a webhook names an address that the server then calls
// from inside its network, so these are refused unless `allowPrivate` (the
// setting webhook-allow-private) says the community's receivers live there:
// loopback, private (10/8, 172.16/12, 192.168/16), shared carrier-grade NAT
// (100.64/10), unique-local (fc00::/7), site-local (fec0::/10), link-local
// (169.254/16, fe80::/10), unspecified, multicast and reserved (240/4)
// addresses. Cloud metadata addresses (169.254.169.254, fd00:ec2::254,
// 100.100.100.200) hand out the server's own credentials and are refused
// even then. An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d,
// 64:ff9b::a.b.c.d) is judged by the IPv4 address it reaches.

// `address` is 4 bytes of IPv4 or 16 of IPv6, in network order. Ok, or
// kRefused with a text for people that names the address and the setting
// that would allow it; kInvalid for any other size.
Result CheckAddress(std::span<const uint8_t> address, bool allowPrivate);

// The check made when a webhook or a feed is added: `url` must be http://
// or https:// with a host (kInvalid), and every address its host stands for
// must pass CheckAddress (kRefused, naming the host too). A literal host is
// judged as it is; a name is resolved (kUnreachable when it resolves to
// nothing), and one private address among public ones refuses it, since a
// connection could pick that one. Blocks while the name resolves. Each
// connection is checked again (see SendOutboundRequest), as a name may
// resolve elsewhere later.
Result CheckDestination(const std::string& url, bool allowPrivate);

}  // namespace palisard
