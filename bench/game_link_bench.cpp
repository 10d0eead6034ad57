// The game link against the real stand-in process (tools/game-sim):
//   build/linux/bench/game_link_bench
// - BM_BulkReadOfRange: one process_vm_readv of the whole searched range, the
//   reference;
// - BM_ResolveGameAddresses: all five signatures over that range;
// - BM_WatcherPass: one read pass and one pass of the watcher, 18 players.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/clock.h"
#include "common/console_output.h"
#include "game/game_watcher.h"
#include "game/signatures.h"

extern char** environ;

namespace palisard {
namespace {

// The stand-in, started once for all benchmarks, with 18 players.
struct StandIn {
  pid_t pid = -1;
  int input = -1;

  StandIn() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(GAME_SIM_EXE), nullptr};
    if (posix_spawn(&pid, GAME_SIM_EXE, &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    input = fds[1];
    std::string commands = "own 76561197960287930\nserver 198.18.0.1 28960\n";
    for (int slot = 0; slot < 18; ++slot) {
      commands += "join " + std::to_string(slot) + " " + std::to_string(76561197960287930ULL + slot) + " 198.18.0." +
                  std::to_string(slot + 1) + " 28960 ^" + std::to_string(slot % 10) + "Player" + std::to_string(slot) +
                  "\n";
    }
    if (write(input, commands.data(), commands.size()) < 0) std::perror("write");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ~StandIn() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(input);
  }
};

StandIn& TheStandIn() {
  static StandIn standIn;
  return standIn;
}

void BM_BulkReadOfRange(benchmark::State& state) {
  std::vector<uint8_t> buffer(kScanSize);
  for (auto _ : state) {
    iovec local{buffer.data(), buffer.size()};
    iovec remote{reinterpret_cast<void*>(uintptr_t{kScanStart}), buffer.size()};
    if (process_vm_readv(TheStandIn().pid, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(kScanSize)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kScanSize);
}
BENCHMARK(BM_BulkReadOfRange)->Unit(benchmark::kMicrosecond);

void BM_ResolveGameAddresses(benchmark::State& state) {
  auto processes = CreateSystemGameProcesses();
  auto memory = processes->OpenGameProcess(static_cast<uint32_t>(TheStandIn().pid));
  MatchState match;
  for (auto _ : state) {
    if (!ResolveGameAddresses(*memory, match)) {
      state.SkipWithError("not resolved");
      break;
    }
  }
}
BENCHMARK(BM_ResolveGameAddresses)->Unit(benchmark::kMicrosecond);

void BM_WatcherPass(benchmark::State& state) {
  auto processes = CreateSystemGameProcesses();
  MatchState match;
  // The hosting duties are measured with the firewall's own benchmark.
  struct NoDuties : PassObserver {
    void AfterPass(bool) override {}
    void StoppedHosting() override {}
  } duties;
  GameWatcher watcher(
      match, *processes, SystemClock(), [](const std::string&) {}, duties);
  if (!watcher.AttachToGame(static_cast<uint32_t>(TheStandIn().pid))) {
    state.SkipWithError("not attached");
    return;
  }
  for (auto _ : state) {
    watcher.RefreshMatchState();
    watcher.RunPass();
  }
}
BENCHMARK(BM_WatcherPass)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace palisard

BENCHMARK_MAIN();
