#include "app/exit_paths.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "common/console_output.h"

namespace palisard {

void RemoveBlocksBeforeExit() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  // The firewall's blocks are removed here once the firewall exists.
}

void OnExit() {
  RemoveBlocksBeforeExit();
  Print("Press enter to exit..\n");
  std::getchar();
}

void InstallExitHandler() { std::atexit(OnExit); }

void InstallTerminateHook() {
  std::set_terminate([] {
    RemoveBlocksBeforeExit();
    std::abort();
  });
}

}  // namespace palisard
