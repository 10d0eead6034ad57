#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "common/socket.h"
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

TEST(StartupTest, ServesPlistAndEndsOnExit) {
  int adminPort = FreeAdminPort();
  ASSERT_NE(adminPort, 0);
  PalisardProcess palisard(TestSettings(adminPort));
  ChildProcess& process = palisard.process();
  ASSERT_TRUE(process.WaitForOutput("streaming.\n"));
  process.Write("plist\nexit\n");
  ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
  process.Write("\n");
  EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
  EXPECT_EQ(process.Output(), kBanner + "Initialized server ( port " + std::to_string(adminPort) +
                                  " )..\n"
                                  "Initialized server ( port 0 )..\n"
                                  "BanService is not streaming.\n"
                                  "##\tCommunity ID      Name\n"
                                  "Press enter to exit..\n");
}

TEST(StartupTest, AdminPortOutOfRangeStopsStartupAndWaitsForEnter) {
  for (int port : {3073, 3060}) {
    PalisardProcess palisard(TestSettings(port));
    ChildProcess& process = palisard.process();
    ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
    EXPECT_FALSE(process.WaitForExit(200ms)) << "should wait for Enter";
    process.Write("\n");
    EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
    EXPECT_EQ(process.Output(), kBanner + "Admin port is out of range ( " + std::to_string(port) +
                                    " ), Must be 3061-3072\n"
                                    "Press enter to exit..\n");
  }
}

TEST(StartupTest, BusyAdminPortStopsStartupBeforeTheWebPort) {
  int adminPort = FreeAdminPort();
  ASSERT_NE(adminPort, 0);
  Socket squatter(OpenTcpSocket());
  ASSERT_EQ(BindAnyAddress(squatter.get(), static_cast<uint16_t>(adminPort)), 0);
  ASSERT_EQ(ListenForConnections(squatter.get()), 0);

  PalisardProcess palisard(TestSettings(adminPort));
  ChildProcess& process = palisard.process();
  process.CloseInput();
  EXPECT_TRUE(ExitedNormally(process.WaitForExit()));
  EXPECT_EQ(process.Output(), kBanner + "Problem binding socket ( port " + std::to_string(adminPort) +
                                  " ): 98\n"
                                  "Press enter to exit..\n");
}

// Without standard input the program keeps serving, idle, until a console
// signal ends it; each signal takes the console-close path.
TEST(StartupTest, EndOfInputIdlesUntilASignalEndsTheProcess) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    int adminPort = FreeAdminPort();
    ASSERT_NE(adminPort, 0);
    PalisardProcess palisard(TestSettings(adminPort));
    ChildProcess& process = palisard.process();
    ASSERT_TRUE(process.WaitForOutput("streaming.\n"));
    process.CloseInput();
    long before = CpuTicks(process.pid());
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(process.WaitForExit(0ms)) << "ended at end of input";
    EXPECT_LE(CpuTicks(process.pid()) - before, 5) << "busy while idle";

    process.Signal(signal);
    std::optional<int> status = process.WaitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << "signal " << signal;
    EXPECT_EQ(process.Output().find("Press enter"), std::string::npos);
  }
}

}  // namespace
}  // namespace palisard
