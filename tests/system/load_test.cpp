#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "admin/admin_protocol.h"
#include "helpers/http_client.h"
#include "helpers/network_namespace.h"
#include "helpers/sanitizers.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The real program under hostile load on both ports, from another loopback
// address than the well-behaved client's.
TEST(LoadTest, HostileLoadLeavesThePortsAnsweringAndMemoryWhereItWas) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
  NetworkNamespace machine;
  PalisardProcess palisard(machine, TestSettings());
  ASSERT_TRUE(palisard.process().WaitForOutput("streaming.\n"));
  const pid_t pid = palisard.pid();
  const std::string ping(reinterpret_cast<const char*>(EncodeQuery(kAdminPing).data()), 12);
  auto pageAnswered = [] { return HttpExchange(3060, "GET / HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200 OK", 0) == 0; };
  auto pingAnswered = [&] { return HttpExchange(3061, ping) == std::string("PLSD\x02\x00\x00\x00", 8); };

  machine.Inside([&] {
    for (int i = 0; i < 20; ++i) pageAnswered();  // warm up
  });
  std::this_thread::sleep_for(3s);  // the warm-up's threads retire
  const long before = ResidentKib(pid);

  machine.Inside([&] {
    std::vector<Socket> idle;
    for (uint16_t port : {3060, 3061}) {
      for (int i = 0; i < 1000; ++i) idle.push_back(ConnectToLoopback(port, 0x7F000002));
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pageAnswered());
    EXPECT_TRUE(pingAnswered());
    EXPECT_LT(std::chrono::steady_clock::now() - start, kResponsiveLimit);

    // Oversized: a request past 64 KiB, a message announcing 513 bytes.
    Socket big = ConnectToLoopback(3060, 0x7F000003);
    std::string huge = "GET /" + std::string(70 * 1024, 'a');
    SendAll(big.get(), huge.data(), huge.size());
    EXPECT_EQ(ReadUntilClosed(big.get()), "");
    Socket bad = ConnectToLoopback(3061, 0x7F000003);
    SendAll(bad.get(), "PLSD\x01\x00\x01\x02\x00\x00\x00\x00", 12);
    EXPECT_EQ(ReadUntilClosed(bad.get()), "");
  });

  // A flood of short connections, four clients at once.
  std::atomic<int> answered{0};
  machine.Inside([&] {
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
      clients.emplace_back([&] {
        for (int i = 0; i < 2500; ++i) answered += HttpExchange(3060, "GET / HTTP/1.1\r\n\r\n").size() > 0;
      });
    }
    for (std::thread& client : clients) client.join();
  });
  EXPECT_EQ(answered.load(), 10'000);

  std::this_thread::sleep_for(4s);  // the load's threads retire
  const long after = ResidentKib(pid);
  if (!kSanitized) {
    EXPECT_LE(after, before * 11 / 10) << "resident set " << before << " KiB before, " << after << " KiB after";
  }
  std::printf("resident set: %ld KiB before the load, %ld KiB after\n", before, after);
  machine.Inside([&] { EXPECT_TRUE(pageAnswered()); });
}

}  // namespace
}  // namespace palisard
