#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include <memory>

#include "firewall/filter_engine.h"
#include "firewall/firewall.h"
#include "helpers/fake_clock.h"
#include "helpers/network_namespace.h"
#include "net/socket.h"

namespace palisard {
namespace {

// Two test hosts in private namespaces joined by a veth pair, addresses from
// the range set aside for network tests.
constexpr uint32_t kHostAddress = 0xC6120001;  // 198.18.0.1
constexpr uint32_t kPeerAddress = 0xC6120002;  // 198.18.0.2
constexpr uint16_t kPort = 28960;
constexpr uint64_t kPeerId = 76561197960265728ULL;

class NftablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
    host = std::make_unique<NetworkNamespace>();
    peer = std::make_unique<NetworkNamespace>();
    LinkNamespaces(*host, "198.18.0.1", *peer, "198.18.0.2");
  }

  // Opens the firewall inside the host's namespace: its netlink socket, and
  // so its table, live there.
  uint32_t OpenFirewall() {
    return host->Inside([&] {
      engine = CreateSystemFilterEngine();
      firewall = std::make_unique<Firewall>(*engine, clock);
      return firewall->Initialize().code();
    });
  }

  void ListenOnHost() {
    listener = Socket(host->Inside([] {
      Socket s;
      EXPECT_TRUE(OpenTcpSocket(&s).ok());
      EXPECT_TRUE(BindAddress(s.get(), {0, kPort}).ok());
      EXPECT_TRUE(ListenForConnections(s.get()).ok());
      return s.release();
    }));
    ASSERT_TRUE(listener.valid());
  }

  bool PeerCanConnect() {
    return peer->Inside([] {
      Socket s;
      return OpenTcpSocket(&s).ok() && ConnectTo(s.get(), {kHostAddress, kPort}, std::chrono::milliseconds(400)).ok();
    });
  }

  std::string HostRuleset() const { return host->Capture("nft list ruleset"); }

  std::unique_ptr<NetworkNamespace> host;
  std::unique_ptr<NetworkNamespace> peer;
  FakeClock clock;
  std::unique_ptr<FilterEngine> engine;
  std::unique_ptr<Firewall> firewall;
  Socket listener;
};

TEST_F(NftablesTest, BlockDropsThePeersPacketsUntilUnblocked) {
  ASSERT_EQ(OpenFirewall(), 0u);
  ListenOnHost();
  EXPECT_TRUE(PeerCanConnect());

  ASSERT_TRUE(firewall->BlockPlayer(kPeerAddress, kPeerId).ok());
  EXPECT_FALSE(PeerCanConnect());
  EXPECT_NE(HostRuleset().find("community id 76561197960265728"), std::string::npos) << HostRuleset();

  ASSERT_TRUE(firewall->UnblockPlayer(kPeerId).ok());
  EXPECT_TRUE(PeerCanConnect());
}

TEST_F(NftablesTest, FilterIdDeletesExactlyItsRule) {
  ASSERT_EQ(OpenFirewall(), 0u);
  ASSERT_TRUE(firewall->BlockPlayer(kPeerAddress, kPeerId).ok());
  ASSERT_TRUE(firewall->BlockPlayer(0xC6120063, 555).ok());  // 198.18.0.99
  ASSERT_TRUE(firewall->UnblockPlayer(kPeerId).ok());
  std::string ruleset = HostRuleset();
  EXPECT_EQ(ruleset.find("198.18.0.2 "), std::string::npos) << ruleset;
  EXPECT_NE(ruleset.find("ip saddr 198.18.0.99 counter packets 0 bytes 0 drop comment \"community id 555\""),
            std::string::npos)
      << ruleset;
  EXPECT_EQ(firewall->UnblockPlayer(kPeerId).code(), Firewall::kNoSuchBlock);

  // A rule deleted behind the block list's back is gone: lifting its block
  // succeeds, and the record goes rather than staying for ever.
  ASSERT_EQ(engine->DeleteFilterById(firewall->Blocks().front().filterId), 0u);
  EXPECT_TRUE(firewall->UnblockPlayer(555).ok());
  EXPECT_TRUE(firewall->Blocks().empty());
}

TEST_F(NftablesTest, TableMadeEarlierWithoutOwnerFlagIsReplaced) {
  ASSERT_EQ(host->Run("nft add table ip palisard && nft add chain ip palisard input "
                      "\"{ type filter hook input priority 0; }\" && "
                      "nft add rule ip palisard input ip saddr 198.18.0.2 drop"),
            0);
  ListenOnHost();
  ASSERT_FALSE(PeerCanConnect());

  ASSERT_EQ(OpenFirewall(), 0u);
  std::string ruleset = HostRuleset();
  EXPECT_NE(ruleset.find("flags owner"), std::string::npos) << ruleset;
  EXPECT_EQ(ruleset.find("198.18.0.2"), std::string::npos) << ruleset;
  EXPECT_TRUE(PeerCanConnect());
}

TEST_F(NftablesTest, ShutdownAndDestructionLeaveNoTable) {
  ASSERT_EQ(OpenFirewall(), 0u);
  ASSERT_TRUE(firewall->BlockPlayer(kPeerAddress, kPeerId).ok());
  std::vector<UnliftedBlock> unlifted;
  ASSERT_TRUE(firewall->Shutdown(std::chrono::seconds(1), &unlifted).ok());
  EXPECT_TRUE(unlifted.empty());
  EXPECT_EQ(HostRuleset(), "");
  EXPECT_EQ(firewall->BlockPlayer(kPeerAddress, kPeerId).code(), Firewall::kNotOpen);

  ASSERT_TRUE(host->Inside([&] { return firewall->Initialize(); }).ok());
  ASSERT_TRUE(firewall->BlockPlayer(kPeerAddress, kPeerId).ok());
  firewall.reset();
  EXPECT_EQ(HostRuleset(), "");
}

// Capabilities belong to a thread: one that has dropped CAP_NET_ADMIN opens
// its netlink socket without it, and nftables refuses the table.
TEST_F(NftablesTest, InitializeWithoutNetAdminFails) {
  uint32_t result = host->Inside([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
    syscall(SYS_capset, &header, data);
    engine = CreateSystemFilterEngine();
    firewall = std::make_unique<Firewall>(*engine, clock);
    return firewall->Initialize().code();
  });
  // EPERM, in a form that cannot read as "no such block" (1).
  EXPECT_EQ(result, 0xA0000001u);
  EXPECT_NE(result, Firewall::kNoSuchBlock);
  EXPECT_EQ(firewall->BlockPlayer(kPeerAddress, kPeerId).code(), Firewall::kNotOpen);
  EXPECT_EQ(HostRuleset(), "");
}

}  // namespace
}  // namespace palisard
