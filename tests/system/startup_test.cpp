#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "helpers/network_namespace.h"
#include "net/socket.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

const std::string kBanner =
    "Palisard Server Tool version 1.0.1\n"
    "Author: https://steamcommunity.com/id/palisard\n"
    "Group: https://steamcommunity.com/groups/palisard\n"
    "Note: Make sure you port-forward the admin port!\n"
    "\n";

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
    machine = std::make_unique<NetworkNamespace>();
  }
  std::unique_ptr<NetworkNamespace> machine;
};

bool ExitedNormally(std::optional<int> status) { return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0; }

// Processor time the process has used, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  long utime = 0, stime = 0;
  // Fields 14 and 15; the command name (field 2) holds no blanks here.
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

TEST_F(StartupTest, ServesPlistAndEndsOnExit) {
  const int adminPort = 3068;
  PalisardProcess palisard(*machine, TestSettings(adminPort));
  ChildProcess& process = palisard.process();
  ASSERT_TRUE(process.WaitForOutput("streaming.\n"));
  process.Write("plist\nexit\n");
  ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
  process.Write("\n");
  EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
  EXPECT_EQ(process.Output(), kBanner + "Initialized server ( port " + std::to_string(adminPort) +
                                  " )..\n"
                                  "Initialized server ( port 3060 )..\n"
                                  "BanService is not streaming.\n"
                                  "##\tCommunity ID      Name\n"
                                  "Press enter to exit..\n");
}

TEST_F(StartupTest, PortOutOfRangeStopsStartupAndWaitsForEnter) {
  const std::pair<std::string, std::string> cases[] = {
      {TestSettings(3073), "Admin port is out of range ( 3073 ), Must be 3061-3072\n"},
      {TestSettings(3060), "Admin port is out of range ( 3060 ), Must be 3061-3072\n"},
      // 68596 would pass for 3060 if cut to 16 bits.
      {"[Palisard]\nHttpPort=68596\n", "Http port is out of range ( 68596 ), Must be 1-65535\n"},
      {"[Palisard]\nHttpPort=0\n", "Http port is out of range ( 0 ), Must be 1-65535\n"},
  };
  for (const auto& [settings, message] : cases) {
    PalisardProcess palisard(*machine, settings);
    ChildProcess& process = palisard.process();
    ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
    EXPECT_FALSE(process.WaitForExit(200ms)) << "should wait for Enter";
    process.Write("\n");
    EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
    EXPECT_EQ(process.Output(), kBanner + message + "Press enter to exit..\n");
  }
}

TEST_F(StartupTest, BusyAdminPortStopsStartupBeforeTheWebPort) {
  const int adminPort = 3061;
  Socket squatter(machine->Inside([] {
    Socket s;
    EXPECT_TRUE(OpenTcpSocket(&s).ok());
    EXPECT_TRUE(BindAddress(s.get(), {0, 3061}).ok());
    EXPECT_TRUE(ListenForConnections(s.get()).ok());
    return s.release();
  }));

  PalisardProcess palisard(*machine, TestSettings(adminPort));
  ChildProcess& process = palisard.process();
  process.CloseInput();
  EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
  EXPECT_EQ(process.Output(), kBanner + "Problem binding socket ( port " + std::to_string(adminPort) +
                                  " ): 98\n"
                                  "Press enter to exit..\n");
}

// Off, the console is this machine's alone; on, another machine is served
// with the key printed at start, in the address or in the header the
// console's script sends, never in a cookie.
TEST_F(StartupTest, ConsoleKeyLetsAnotherScreenInWithTheKeyOnly) {
  NetworkNamespace phone;
  LinkNamespaces(*machine, "198.18.7.1", phone, "198.18.7.2");
  const std::string get = "curl -s -S -m 5 -o /dev/null -D - http://198.18.7.1:3060/";
  {
    PalisardProcess off(*machine, TestSettings());
    ASSERT_TRUE(off.process().WaitForOutput("streaming.\n"));
    EXPECT_EQ(WEXITSTATUS(phone.Run(get + " 2>/dev/null")), 7) << "curl: connection refused";
  }
  PalisardProcess on(*machine, TestSettings(3061, "ConsoleKey=1\n"));
  ASSERT_TRUE(on.process().WaitForOutput("streaming.\n"));
  std::smatch line;
  const std::string output = on.process().Output();
  ASSERT_TRUE(std::regex_search(output, line,
                                std::regex("\\( port 3060 \\)\\.\\.\nConsole for another screen: "
                                           "http://198\\.18\\.7\\.1:3060/\\?key=([0-9a-f]{32})\nBanService")))
      << output;
  const std::string key = line[1];
  EXPECT_NE(phone.Capture(get).find("HTTP/1.1 403 Forbidden\r\n"), std::string::npos);
  const std::string keyed = phone.Capture(get + "?key=" + key);
  EXPECT_NE(keyed.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << keyed;
  EXPECT_EQ(keyed.find("Set-Cookie"), std::string::npos) << keyed;
  EXPECT_NE(phone.Capture(get + " -H \"X-Palisard-Key: " + key + "\"").find("HTTP/1.1 200 OK\r\n"), std::string::npos);
  EXPECT_NE(phone.Capture(get + " -b palisard_key=" + key).find("HTTP/1.1 403 Forbidden\r\n"), std::string::npos)
      << "no cookie counts";
  EXPECT_EQ(on.process().Output().rfind(key), output.find(key)) << "the key is printed once";
}

// Without standard input the program keeps serving, idle, until a console
// signal ends it; each signal takes the console-close path.
TEST_F(StartupTest, EndOfInputIdlesUntilASignalEndsTheProcess) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    PalisardProcess palisard(*machine, TestSettings());
    ChildProcess& process = palisard.process();
    ASSERT_TRUE(process.WaitForOutput("streaming.\n"));
    process.CloseInput();
    long before = CpuTicks(palisard.pid());
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(process.WaitForExit(0ms)) << "ended at end of input";
    EXPECT_LE(CpuTicks(palisard.pid()) - before, 5) << "busy while idle";

    palisard.Signal(signal);
    std::optional<int> status = process.WaitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << "signal " << signal;
    EXPECT_EQ(process.Output().find("Press enter"), std::string::npos);
  }
}

}  // namespace
}  // namespace palisard
