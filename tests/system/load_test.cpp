#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "admin/admin_protocol.h"
#include "helpers/http_client.h"
#include "helpers/network_namespace.h"
#include "helpers/sanitizers.h"
#include "system/admin_voter.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

// A number from /proc/PID/status, such as "VmRSS:" (KiB) or "Threads:".
long StatusField(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
  }
  return -1;
}

long ResidentKib(pid_t pid) { return StatusField(pid, "VmRSS:"); }

// Processor time the process has used (user and system), in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // after the command name
  std::string field;
  for (int i = 3; i < 14; ++i) fields >> field;  // state .. cmajflt
  long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The real program, hosting a match, under hostile load on both ports, from
// other addresses than the well-behaved clients', with 1,024 open files at
// most: its connection caps, not the descriptor limit, must bound the flood.
TEST(LoadTest, HostileLoadLeavesThePortsAnsweringAndMemoryWhereItWas) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
  NetworkNamespace machine;
  // Local addresses for the match's player and for strangers.
  ASSERT_EQ(machine.Run("ip route add local 198.18.5.0/24 dev lo"), 0);
  constexpr uint32_t kPlayerAddress = 0xC61205C8;  // 198.18.5.200
  constexpr uint64_t kHost = 76561198000000001ULL, kPlayer = kHost + 1, kTarget = kHost + 2;
  PidNamespace pids(machine);
  GameSim game(pids);
  ASSERT_TRUE(game.ready());
  for (const std::string& command :
       {"own " + std::to_string(kHost), "join 0 " + std::to_string(kHost) + " 198.18.0.1 28960 Host",
        "join 1 " + std::to_string(kPlayer) + " 198.18.5.200 28960 Player",
        "join 2 " + std::to_string(kTarget) + " 198.18.0.9 28960 Target", std::string("server 198.18.0.1 28960")}) {
    ASSERT_TRUE(game.Do(command));
  }
  // The usual soft limit, made the hard one too: the caps must bind first.
  PalisardProcess palisard(machine, TestSettings(), &pids, {"/usr/bin/prlimit", "--nofile=1024:1024", PALISARD_EXE},
                           "palisard", {});
  ASSERT_TRUE(palisard.process().WaitForOutput("Server set to: Host\n")) << palisard.process().Output();
  const pid_t pid = palisard.pid();
  const std::string ping(reinterpret_cast<const char*>(EncodeQuery(kAdminPing).data()), 12);
  auto pageAnswered = [] { return HttpExchange(3060, "GET / HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200 OK", 0) == 0; };
  auto pingAnswered = [&] { return HttpExchange(3061, ping) == std::string("PLSD\x02\x00\x00\x00", 8); };

  machine.Inside([&] {
    for (int i = 0; i < 20; ++i) pageAnswered();  // warm up
  });
  std::this_thread::sleep_for(3s);  // the warm-up's threads retire
  const long before = ResidentKib(pid);

  // An admin peer sending one byte every 2 s: the whole message is due
  // within 10 s, however it trickles.
  std::thread trickle([&] {
    machine.Inside([&] {
      Socket peer = ConnectToLoopback(3061, 0x7F000004);
      const auto start = std::chrono::steady_clock::now();
      char byte = 'P';
      ASSERT_TRUE(SetReceiveTimeout(peer.get(), std::chrono::seconds(2)).ok());
      std::size_t done = 0;
      while (SendBytes(peer.get(), &byte, 1, &done).ok() && done == 1 &&
             std::chrono::steady_clock::now() - start < 30s) {
        // The close shows as the end of the stream while waiting for the
        // next turn.
        char ignored;
        if (ReceiveBytes(peer.get(), &ignored, 1, &done).kind() == Result::Kind::kClosed) break;
      }
      const auto held = std::chrono::steady_clock::now() - start;
      EXPECT_LE(held, 11s) << "a trickling peer keeps its connection";
      std::printf("trickling admin peer cut off after %.1f s\n", std::chrono::duration<double>(held).count());
    });
  });

  machine.Inside([&] {
    // 1,100 idle web connections from one address, 8 admin connections from
    // each of 100 loopback addresses and of 120 strangers' addresses, all
    // held.
    std::vector<Socket> idle;
    for (int i = 0; i < 1100; ++i) idle.push_back(ConnectToLoopback(3060, 0x7F000002));
    for (uint32_t from = 0x7F000101; from <= 0x7F000164; ++from) {
      for (int i = 0; i < 8; ++i) idle.push_back(ConnectToLoopback(3061, from));
    }
    for (uint32_t from = 0xC6120501; from <= 0xC6120578; ++from) {
      for (int i = 0; i < 8; ++i) idle.push_back(ConnectToLoopback(3061, from));
    }
    std::this_thread::sleep_for(500ms);  // the program takes them in
    const double cpuBefore = CpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pageAnswered());
    const auto page = std::chrono::steady_clock::now() - start;
    EXPECT_LT(page, kResponsiveLimit);
    EXPECT_TRUE(pingAnswered());
    std::this_thread::sleep_for(3s);
    const double cpuShare =
        (CpuSeconds(pid) - cpuBefore) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!kSanitized) {
      EXPECT_LE(cpuShare, 0.05) << "of one core, under the held flood";
    }
    std::printf("under the flood: page in %.0f ms, program at %.1f%% of a core\n",
                std::chrono::duration<double, std::milli>(page).count(), cpuShare * 100);

    // The match's player is served all the same: the strangers fill only a
    // small pool of their own.
    const auto playerStart = std::chrono::steady_clock::now();
    Socket player = ConnectToLoopback(3061, kPlayerAddress);
    EXPECT_TRUE(SendAll(player.get(), ping.data(), ping.size()).ok());
    EXPECT_EQ(ReadUntilClosed(player.get()), std::string("PLSD\x02\x00\x00\x00", 8));
    EXPECT_EQ(VoteKickThroughAdminPort(machine, 3061, kPlayer, kPlayerAddress, kTarget), "Votekick successful");
    const auto playerTime = std::chrono::steady_clock::now() - playerStart;
    EXPECT_LT(playerTime, kResponsiveLimit);
    std::printf("under 8 connections from each of 120 strangers: player's ping, registration and vote in %.0f ms\n",
                std::chrono::duration<double, std::milli>(playerTime).count());

    // Oversized: a request past 64 KiB, a message announcing 513 bytes.
    Socket big = ConnectToLoopback(3060, 0x7F000003);
    std::string huge = "GET /" + std::string(70 * 1024, 'a');
    (void)SendAll(big.get(), huge.data(), huge.size());
    EXPECT_EQ(ReadUntilClosed(big.get()), "");
    Socket bad = ConnectToLoopback(3061, 0x7F000003);
    (void)SendAll(bad.get(), "PLSD\x01\x00\x01\x02\x00\x00\x00\x00", 12);
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

  trickle.join();
  std::this_thread::sleep_for(4s);  // the load's threads retire
  const long after = ResidentKib(pid);
  if (!kSanitized) {
    EXPECT_LE(after, before * 11 / 10) << "resident set " << before << " KiB before, " << after << " KiB after";
  }
  std::printf("resident set: %ld KiB before the load, %ld KiB after; %ld threads\n", before, after,
              StatusField(pid, "Threads:"));
  machine.Inside([&] { EXPECT_TRUE(pageAnswered()); });
}

}  // namespace
}  // namespace palisard
