#include "web/tcp_server.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

#ifdef _WIN32
constexpr int kAddressInUse = 10048;  // WSAEADDRINUSE
#else
constexpr int kAddressInUse = 98;  // EADDRINUSE
#endif

TEST(TcpServerTest, ListensAndAcceptsAConnection) {
  TcpServer server;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(server.Initialize(0), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Initialized server ( port 0 )..\n");
  Socket listener(server.listenSocket);
  uint16_t port = LocalPort(listener.get());
  ASSERT_NE(port, 0);

  Socket client(OpenTcpSocket());
  ASSERT_EQ(ConnectTo(client.get(), {0x7F000001, port}), 0);
  Ipv4Endpoint peer;
  Socket accepted(AcceptConnection(listener.get(), &peer));
  ASSERT_TRUE(accepted.valid());
  EXPECT_EQ(peer.address, 0x7F000001u);
  ASSERT_TRUE(SendAll(client.get(), "hi", 2));
  char buffer[2] = {};
  ASSERT_EQ(ReceiveBytes(accepted.get(), buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "hi");
}

TEST(TcpServerTest, PortInUseReportsTheBindErrorAndClosesTheSocket) {
  TcpServer first;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(first.Initialize(0), 0);
  ::testing::internal::GetCapturedStdout();
  Socket firstSocket(first.listenSocket);
  uint16_t port = LocalPort(firstSocket.get());

  TcpServer second;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(second.Initialize(port), kAddressInUse);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Problem binding socket ( port " + std::to_string(port) + " ): " + std::to_string(kAddressInUse) + "\n");
  EXPECT_EQ(second.listenSocket, kInvalidSocket);
  EXPECT_EQ(second.port, port);

  // The first server still works after the second one's failure.
  Socket client(OpenTcpSocket());
  EXPECT_EQ(ConnectTo(client.get(), {0x7F000001, port}), 0);
}

}  // namespace
}  // namespace palisard
