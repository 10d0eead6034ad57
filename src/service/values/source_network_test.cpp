#include "service/values/source_network.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(SourceNetworkTest, KeysAnAddressByItsHouseholdsNetwork) {
  const struct {
    const char* address;
    const char* network;
  } cases[] = {
      {"203.0.113.77", "203.0.113.0/24"},
      {"::ffff:203.0.113.77", "203.0.113.0/24"},  // the same voice over a dual-stack socket
      {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"2001:db8::1", "2001:db8::/64"},
  };
  for (const auto& c : cases) EXPECT_EQ(SourceNetwork(c.address), c.network) << c.address;
  EXPECT_EQ(SourceNetwork("203.0.113"), std::nullopt);
  EXPECT_EQ(SourceNetwork(""), std::nullopt);
}

}  // namespace
}  // namespace palisard
