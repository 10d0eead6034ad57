#include "net/accept_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "helpers/http_client.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// Loopback addresses below .100 are the first pool's, the others the second's.
constexpr uint32_t kP1 = 0x7F000001, kP2 = 0x7F000002, kP3 = 0x7F000003;
constexpr uint32_t kS1 = 0x7F000065, kS2 = 0x7F000066, kS3 = 0x7F000067;

struct Step {
  uint32_t from;
  bool noThread;  // the thread start fails
  bool served;
  const char* why;
};

// Connections made one after another and held: the first pool takes 3 in
// all and 2 from one address, the second 2 and 1.
TEST(AcceptLoopTest, EachPoolKeepsItsOwnCapsAndEverySlotComesBack) {
  const Step steps[] = {
      {kP1, false, true, ""},
      {kP1, true, false, "no thread could be started"},
      {kP1, false, true, "the failed start gave its slot back"},
      {kP1, false, false, "one more from an address than the first pool allows"},
      {kS1, false, true, "the second pool"},
      {kS1, false, false, "one more from an address than the second pool allows"},
      {kS2, false, true, ""},
      {kS3, false, false, "one more in all than the second pool allows"},
      {kP2, false, true, "the second pool took none of the first's room"},
      {kP3, false, false, "one more in all than the first pool allows"},
  };
  ThreadCache threads(10s);  // outlives the loop
  std::atomic<bool> noThread{false};
  AcceptLoop loop(
      {3, 2},
      [](Socket client, uint32_t) {
        (void)SendAll(client.get(), "ok", 2);  // a peer refused by a test need not read it
        ReadUntilClosed(client.get());
      },
      {}, {[](uint32_t peer) { return (peer & 0xFF) < 100; }, {2, 1}},
      [&](std::function<void()> task) { return !noThread && threads.Run(std::move(task)); });
  Listener server;
  RecordingConsole quiet;
  ASSERT_TRUE(server.Initialize(0, quiet).ok());
  const uint16_t port = LocalPort(server.socket()).value_or(0);
  std::thread running([&] { EXPECT_TRUE(loop.Run(server).ok()); });

  std::vector<Socket> held;
  for (const Step& step : steps) {
    noThread = step.noThread;
    held.push_back(ConnectToLoopback(port, step.from));
    ASSERT_TRUE(SetIoTimeout(held.back().get(), std::chrono::seconds(3)).ok());
    char answer[2];
    EXPECT_EQ(ReceiveExactly(held.back().get(), answer, 2).ok(), step.served)
        << std::hex << step.from << ": " << step.why;
  }
  held.clear();  // every slot comes back to its own pool
  auto inUse = [&] { return loop.slots().inUse() + loop.secondSlots().inUse(); };
  for (int i = 0; i < 500 && inUse() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(inUse(), 0u);
  loop.RequestStop();
  ConnectToLoopback(port);
  running.join();
}

}  // namespace
}  // namespace palisard
