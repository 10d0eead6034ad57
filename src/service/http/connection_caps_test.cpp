#include "service/http/connection_caps.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

// Each cap at its edge: the one place past it is refused, a place given
// back is taken again; the kept share is the last to fill.
TEST(ConnectionCapsTest, CapsPerSourceNetworkAndInAllWithAShareKept) {
  using Place = ConnectionCaps::Place;
  ConnectionCaps caps({2, 3, 5, 1});
  const struct {
    const char* source;
    const char* network;
    bool capped;
    Place place;
  } steps[] = {
      {"a", "n", true, Place::kShared},  {"a", "n", true, Place::kShared},
      {"a", "n", true, Place::kRefused},                                      // the source's third
      {"b", "n", true, Place::kShared},  {"c", "n", true, Place::kRefused},   // the network's fourth
      {"p", "m", false, Place::kShared},                                      // a load balancer: only the caps on all
      {"p", "m", false, Place::kKept},   {"p", "m", false, Place::kRefused},  // the sixth of five
  };
  for (const auto& step : steps) {
    EXPECT_EQ(caps.Admit(step.source, step.network, step.capped), step.place) << step.source << step.network;
  }
  caps.Release("p", "m", Place::kKept);
  EXPECT_EQ(caps.Admit("d", "o", true), Place::kKept);
  caps.Release("a", "n", Place::kShared);
  EXPECT_EQ(caps.Admit("c", "n", true), Place::kShared) << "the network's place given back";
}

TEST(ConnectionCapsTest, SourcesNetworksAndTrustedProxies) {
  EXPECT_EQ(CapSource("203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(CapSource("::ffff:203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(CapSource("2001:db8:1:2::5"), "2001:db8:1:2::/64");
  EXPECT_EQ(CapNetwork("::ffff:203.0.113.9"), "203.0.113.0/24");
  EXPECT_EQ(CapNetwork("2001:db8:1:2::5"), "2001:db8:1::/48");
  const std::vector<std::string> proxies = {"127.0.0.1", "::1"};
  for (const char* peer : {"127.0.0.1", "::ffff:127.0.0.1", "::1", "0:0:0:0:0:0:0:1"}) {
    EXPECT_TRUE(IsTrustedProxy(proxies, peer)) << peer;
  }
  for (const char* peer : {"127.0.0.2", "::ffff:127.0.0.2", "::2", "", "not an address"}) {
    EXPECT_FALSE(IsTrustedProxy(proxies, peer)) << peer;
  }
}

}  // namespace
}  // namespace palisard
