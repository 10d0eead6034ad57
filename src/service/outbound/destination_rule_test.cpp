#include "service/outbound/destination_rule.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

TEST(DestinationRuleTest, JudgesTheAddressesAUrlStandsFor) {
  using Kind = Result::Kind;
  const std::string allowIt = "; set webhook-allow-private to allow it";
  const struct {
    const char* url;
    bool allowPrivate;
    Kind kind;
    std::string text;  // the whole text, or for a name its start
  } cases[] = {
      {"https://203.0.113.5/hook", false, Kind::kOk, ""},
      {"http://[2001:db8::1]:8080/hook", false, Kind::kOk, ""},
      {"http://10.0.0.1/hook", false, Kind::kRefused, "10.0.0.1 is a private address" + allowIt},
      {"http://10.0.0.1/hook", true, Kind::kOk, ""},
      {"http://172.31.255.255/", false, Kind::kRefused, "172.31.255.255 is a private address" + allowIt},
      {"http://172.32.0.1/", false, Kind::kOk, ""},
      {"http://100.127.255.255/", false, Kind::kRefused,
       "100.127.255.255 is a shared (carrier-grade NAT) address" + allowIt},
      {"http://100.128.0.1/", false, Kind::kOk, ""},
      {"http://2130706433/", false, Kind::kRefused, "127.0.0.1 is a loopback address" + allowIt},
      {"http://169.254.1.1/", false, Kind::kRefused, "169.254.1.1 is a link-local address" + allowIt},
      {"http://[::1]/", false, Kind::kRefused, "::1 is a loopback address" + allowIt},
      {"http://[fdff::1]/", false, Kind::kRefused, "fdff::1 is a unique-local address" + allowIt},
      {"http://[fe00::1]/", false, Kind::kOk, ""},
      {"http://[febf::1]/", false, Kind::kRefused, "febf::1 is a link-local address" + allowIt},
      {"http://[ff02::1]/", false, Kind::kRefused, "ff02::1 is a multicast address" + allowIt},
      {"http://[::ffff:10.1.2.3]/", false, Kind::kRefused, "::ffff:10.1.2.3 is a private address" + allowIt},
      {"http://[64:ff9b::7f00:1]/", false, Kind::kRefused, "64:ff9b::7f00:1 is a loopback address" + allowIt},
      // Metadata addresses, whatever the setting says.
      {"http://169.254.169.254/latest/meta-data/", true, Kind::kRefused,
       "169.254.169.254 is a cloud metadata address, never a destination"},
      {"http://[fd00:ec2::254]/", true, Kind::kRefused,
       "fd00:ec2::254 is a cloud metadata address, never a destination"},
      {"http://[::ffff:169.254.169.254]/", true, Kind::kRefused,
       "::ffff:169.254.169.254 is a cloud metadata address, never a destination"},
      // A name, by what it resolves to.
      {"http://localhost:9000/hook", false, Kind::kRefused, "localhost: "},
      {"ftp://203.0.113.5/", false, Kind::kInvalid, "'ftp://203.0.113.5/' is not an http:// or https:// URL"},
      {"203.0.113.5/hook", false, Kind::kInvalid, ""},
  };
  for (const auto& c : cases) {
    const Result result = CheckDestination(c.url, c.allowPrivate);
    EXPECT_EQ(result.kind(), c.kind) << c.url << ": " << result.text();
    EXPECT_EQ(result.text().substr(0, c.text.size()), c.text) << c.url;
  }
}

}  // namespace
}  // namespace palisard
