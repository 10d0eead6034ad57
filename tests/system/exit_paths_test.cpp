#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "helpers/network_namespace.h"
#include "system/palisard_process.h"

namespace palisard {
namespace {

// However the program ends, its firewall table (and so every block) is gone
// from the machine afterwards.
struct ExitPath {
  const char* name;
  int signal;  // 0: the "exit" command
};

class ExitPathTest : public ::testing::TestWithParam<ExitPath> {};

TEST_P(ExitPathTest, LeavesNoFirewallTableBehind) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
  NetworkNamespace machine;
  PalisardProcess palisard(machine, TestSettings());
  ChildProcess& process = palisard.process();
  ASSERT_TRUE(process.WaitForOutput("streaming.\n")) << process.Output();
  ASSERT_NE(machine.Capture("nft list tables").find("table ip palisard"), std::string::npos);

  const ExitPath& path = GetParam();
  if (path.signal == 0) {
    process.Write("exit\n");
    ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
    // The blocks are gone before the prompt, while the program still runs.
    EXPECT_EQ(machine.Capture("nft list tables"), "");
    process.Write("\n");
  } else {
    process.Signal(path.signal);
  }
  std::optional<int> status = process.WaitForExit();
  ASSERT_TRUE(status) << process.Output();
  if (path.signal != 0) {
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == path.signal) << process.Output();
  }
  EXPECT_EQ(machine.Capture("nft list tables"), "");
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, ExitPathTest,
                         ::testing::Values(ExitPath{"ExitCommand", 0}, ExitPath{"Sigterm", SIGTERM},
                                           ExitPath{"Sighup", SIGHUP}, ExitPath{"Sigint", SIGINT},
                                           ExitPath{"Segfault", SIGSEGV}, ExitPath{"Abort", SIGABRT},
                                           ExitPath{"Sigkill", SIGKILL}),
                         [](const ::testing::TestParamInfo<ExitPath>& info) { return info.param.name; });

}  // namespace
}  // namespace palisard
