#include <arpa/inet.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "helpers/network_namespace.h"
#include "system/admin_voter.h"
#include "system/game_sim_process.h"
#include "system/palisard_process.h"
#include "system/pid_namespace.h"

namespace palisard {
namespace {

using namespace std::chrono_literals;

constexpr uint64_t kHost = 76561198000000001ULL;
constexpr uint64_t kVoter = 76561198000000002ULL;
constexpr uint64_t kTarget = 76561198000000003ULL;

// Every change to the machine's packet filter, as `nft monitor` reports it:
// each committed change ends with a "# new generation" line, and a table
// that goes with its owner's socket goes without any report.
class NftMonitor {
 public:
  explicit NftMonitor(const NetworkNamespace& machine) {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/ip", "netns", "exec", machine.name(), "nft", "-a", "monitor"}, "/");
    // Listening once it reports a change of ours.
    for (int i = 0; i < 50 && !process_->WaitForOutput("add table ip probe", 100ms); ++i) {
      machine.Run("nft add table ip probe && nft delete table ip probe");
    }
  }
  bool Sees(const std::string& text) { return process_->WaitForOutput(text, 10s); }
  // The handle of the rule added for `address`, once its whole line is in
  // (a line may arrive in pieces); empty when none comes.
  std::string RuleHandle(const std::string& address) {
    const std::string rule = "add rule ip palisard input ip saddr " + address + " ";
    const std::string handle = "# handle ";
    for (int i = 0; i < 500; ++i) {
      const std::string output = Output();
      const std::size_t start = output.find(rule);
      const std::size_t end = start == std::string::npos ? start : output.find('\n', start);
      const std::size_t at = end == std::string::npos ? end : output.rfind(handle, end);
      if (at != std::string::npos && at > start) {
        const std::string digits = output.substr(at + handle.size(), end - at - handle.size());
        if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) return digits;
      }
      std::this_thread::sleep_for(20ms);
    }
    return "";
  }
  std::string Output() const { return process_->Output(); }

 private:
  std::unique_ptr<ChildProcess> process_;
};

struct ExitPath {
  const char* name;
  int signal;  // 0: the "exit" command
};

void PrintTo(const ExitPath& path, std::ostream* out) { *out << path.name; }

class ExitPathTest : public ::testing::TestWithParam<ExitPath> {};

// After a vote-kick has blocked a player, the program is ended one way or
// another. Every way but SIGKILL runs a handler that deletes the block's
// rule on its own, before the table goes: were no handler to run, the
// kernel would drop the owned table silently, rule and all. So the test
// fails when a handler does not run, unlike a look at the ruleset
// afterwards.
TEST_P(ExitPathTest, DeletesEachBlockBeforeTheTableGoes) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and nftables";
  NetworkNamespace machine;
  PidNamespace pids(machine);
  GameSim game(pids);
  ASSERT_TRUE(game.ready());
  for (const std::string& command :
       {"own " + std::to_string(kHost), "join 0 " + std::to_string(kHost) + " 198.18.0.1 28960 Host",
        "join 1 " + std::to_string(kVoter) + " 127.0.0.1 28960 Voter",
        "join 2 " + std::to_string(kTarget) + " 198.18.0.9 28960 Target", std::string("server 198.18.0.1 28960")}) {
    ASSERT_TRUE(game.Do(command));
  }
  NftMonitor monitor(machine);
  PalisardProcess palisard(machine, TestSettings(), &pids);
  ChildProcess& process = palisard.process();
  ASSERT_TRUE(process.WaitForOutput("Server set to: Host\n")) << process.Output();
  EXPECT_EQ(VoteKickThroughAdminPort(machine, 3061, kVoter, INADDR_LOOPBACK, kTarget), "Votekick successful");
  ASSERT_TRUE(process.WaitForOutput("Kicking " + std::to_string(kTarget) + "\n")) << process.Output();
  const std::string handle = monitor.RuleHandle("198.18.0.9");
  ASSERT_NE(handle, "") << monitor.Output();
  const std::string ruleDeleted = "delete rule ip palisard input handle " + handle + "\n# new generation";

  const ExitPath& path = GetParam();
  if (path.signal == 0) {
    process.Write("exit\n");
    ASSERT_TRUE(process.WaitForOutput("Press enter to exit..\n"));
    // The blocks are gone before the prompt, while the program still runs.
    EXPECT_EQ(machine.Capture("nft list tables"), "");
    process.Write("\n");
  } else {
    palisard.Signal(path.signal);
  }
  std::optional<int> status = process.WaitForExit();
  ASSERT_TRUE(status) << process.Output();
  if (path.signal != 0) {
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == path.signal) << process.Output();
  }
  EXPECT_EQ(machine.Capture("nft list tables"), "");

  std::string changes = monitor.Output();
  if (path.signal == SIGKILL) {
    // No handler runs: the kernel drops the table and reports nothing.
    EXPECT_EQ(changes.find("delete rule"), std::string::npos) << changes;
  } else {
    // Its own change (a generation of its own), ahead of the table's.
    ASSERT_TRUE(monitor.Sees("delete table ip palisard")) << changes;
    changes = monitor.Output();
    std::size_t rule = changes.find(ruleDeleted);
    EXPECT_NE(rule, std::string::npos) << changes;
    EXPECT_LT(rule, changes.find("delete table ip palisard")) << changes;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, ExitPathTest,
                         ::testing::Values(ExitPath{"ExitCommand", 0}, ExitPath{"Sigterm", SIGTERM},
                                           ExitPath{"Sighup", SIGHUP}, ExitPath{"Sigint", SIGINT},
                                           ExitPath{"Segfault", SIGSEGV}, ExitPath{"Abort", SIGABRT},
                                           ExitPath{"Sigkill", SIGKILL}),
                         [](const ::testing::TestParamInfo<ExitPath>& info) { return info.param.name; });

}  // namespace
}  // namespace palisard
