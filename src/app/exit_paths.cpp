#include "app/exit_paths.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/process_objects.h"
#include "common/console_output.h"

namespace palisard {

void RemoveBlocksBeforeExit(std::chrono::milliseconds lockWait) {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  TheFirewall().Shutdown(lockWait);
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
