#include "app/exit_paths.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "app/process_objects.h"
#include "common/clock.h"
#include "common/console_output.h"

namespace palisard {

bool OnceForAll::Run(const std::function<void()>& work, std::chrono::milliseconds wait) {
  int expected = kNotStarted;
  if (stage_.compare_exchange_strong(expected, kRunning)) {
    work();
    stage_.store(kFinished);
    return true;
  }
  // Polled rather than a timed wait: the race detector cannot follow
  // pthread's timed waits, and exit paths are rare.
  const Deadline deadline(SystemClock(), wait);
  while (stage_.load() != kFinished) {
    if (deadline.Passed()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void RemoveBlocksBeforeExit(std::chrono::milliseconds lockWait) {
  static OnceForAll once;
  // The first path may wait `lockWait` for the lock and then delete: allow
  // the second path that and a little more.
  once.Run(
      [lockWait] {
        std::vector<UnliftedBlock> unlifted;
        if (!TheFirewall().Shutdown(lockWait, &unlifted).ok()) {
          Print("Could not remove the blocks: the firewall stayed busy\n");
          return;
        }
        for (const UnliftedBlock& block : unlifted) {
          uint32_t a = block.record.address;
          Print("Could not remove the block of %" PRIu64 " ( %u.%u.%u.%u ): %x\n", block.record.CommunityId(), a >> 24,
                (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, block.error);
        }
      },
      lockWait + std::chrono::seconds(2));
}

void OnExit() {
  RemoveBlocksBeforeExit();
  Print("Press enter to exit..\n");
  std::getchar();
}

void InstallExitHandler() { std::atexit(OnExit); }

void InstallTerminateHook() {
  std::set_terminate([] {
    RemoveBlocksBeforeExit(std::chrono::seconds(1));
    std::abort();
  });
}

}  // namespace palisard
