#include "net/listener.h"

#include <gtest/gtest.h>
#include "helpers/recording_console.h"

namespace palisard {
namespace {

TEST(ListenerTest, ListensAndAcceptsAConnection) {
  Listener server;
  RecordingConsole console;
  ASSERT_TRUE(server.Initialize(0, console).ok());
  EXPECT_EQ(console.Take(), "Initialized server ( port 0 )..\n");
  uint16_t port = LocalPort(server.socket()).value_or(0);
  ASSERT_NE(port, 0);

  Socket client;
  ASSERT_TRUE(OpenTcpSocket(&client).ok());
  ASSERT_TRUE(ConnectTo(client.get(), {0x7F000001, port}).ok());
  Ipv4Endpoint peer;
  Socket accepted;
  ASSERT_TRUE(AcceptConnection(server.socket(), &accepted, &peer).ok());
  EXPECT_EQ(peer.address, 0x7F000001u);
  ASSERT_TRUE(SendAll(client.get(), "hi", 2).ok());
  char buffer[2] = {};
  std::size_t got = 0;
  ASSERT_TRUE(ReceiveBytes(accepted.get(), buffer, 2, &got).ok());
  EXPECT_EQ(std::string(buffer, got), "hi");
  client.reset();
  EXPECT_EQ(ReceiveBytes(accepted.get(), buffer, 2, &got).kind(), Result::Kind::kClosed);
}

TEST(ListenerTest, PortInUseReportsTheBindErrorAndClosesTheSocket) {
  Listener first;
  RecordingConsole console;
  ASSERT_TRUE(first.Initialize(0, console).ok());
  uint16_t port = LocalPort(first.socket()).value_or(0);

  Listener second;
  console.Take();
  const Result bound = second.Initialize(port, console);
  EXPECT_EQ(bound.kind(), Result::Kind::kAddressInUse);
  EXPECT_EQ(console.Take(),
            "Problem binding socket ( port " + std::to_string(port) + " ): " + std::to_string(bound.code()) + "\n");
  EXPECT_FALSE(second.listening());
  EXPECT_EQ(second.port(), port);

  // The first server still works after the second one's failure.
  Socket client;
  ASSERT_TRUE(OpenTcpSocket(&client).ok());
  EXPECT_TRUE(ConnectTo(client.get(), {0x7F000001, port}).ok());
}

}  // namespace
}  // namespace palisard
