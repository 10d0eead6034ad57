#include "net/listener.h"

#include <gtest/gtest.h>
#include "helpers/recording_console.h"

namespace palisard {
namespace {

TEST(ListenerTest, ListensAndAcceptsAConnection) {
  Listener server;
  RecordingConsole console;
  ASSERT_EQ(server.Initialize(0, console), 0);
  EXPECT_EQ(console.Take(), "Initialized server ( port 0 )..\n");
  uint16_t port = LocalPort(server.socket());
  ASSERT_NE(port, 0);

  Socket client(OpenTcpSocket());
  ASSERT_EQ(ConnectTo(client.get(), {0x7F000001, port}), 0);
  Ipv4Endpoint peer;
  Socket accepted(AcceptConnection(server.socket(), &peer));
  ASSERT_TRUE(accepted.valid());
  EXPECT_EQ(peer.address, 0x7F000001u);
  ASSERT_TRUE(SendAll(client.get(), "hi", 2));
  char buffer[2] = {};
  ASSERT_EQ(ReceiveBytes(accepted.get(), buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "hi");
}

TEST(ListenerTest, PortInUseReportsTheBindErrorAndClosesTheSocket) {
  Listener first;
  RecordingConsole console;
  ASSERT_EQ(first.Initialize(0, console), 0);
  uint16_t port = LocalPort(first.socket());

  Listener second;
  console.Take();
  const int error = second.Initialize(port, console);
  EXPECT_EQ(ClassifySocketError(error), SocketError::kAddressInUse);
  EXPECT_EQ(console.Take(),
            "Problem binding socket ( port " + std::to_string(port) + " ): " + std::to_string(error) + "\n");
  EXPECT_FALSE(second.listening());
  EXPECT_EQ(second.port(), port);

  // The first server still works after the second one's failure.
  Socket client(OpenTcpSocket());
  EXPECT_EQ(ConnectTo(client.get(), {0x7F000001, port}), 0);
}

}  // namespace
}  // namespace palisard
