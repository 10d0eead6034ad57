#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace palisard {

// Every way the program ends removes the firewall's blocks first, so no
// player stays blocked after Palisard is gone.

// Work that runs once for every caller, such as the exit paths' clean-up. A
// caller that comes while it runs waits until it has finished, at most
// `wait`: on Windows the system ends the process as soon as a console
// handler returns, so returning early would cut the removal short. Safe from
// any thread.
class OnceForAll {
 public:
  // True when the work has finished (by this call or an earlier one).
  bool Run(const std::function<void()>& work, std::chrono::milliseconds wait);

 private:
  enum Stage { kNotStarted, kRunning, kFinished };
  std::atomic<int> stage_{kNotStarted};
};

// Removes every block and closes the filter engine, once; a second exit
// path waits for the first. Reports each block it could not remove. Waits
// at most `lockWait` for a firewall operation in progress (a crash may have
// happened inside one).
void RemoveBlocksBeforeExit(std::chrono::milliseconds lockWait = std::chrono::seconds(5));

// Normal exit (after "exit" or an early return of start-up): remove the
// blocks, then "Press enter to exit.." and wait for one character.
void OnExit();

// Start-up steps 1, 2 and 4.
void InstallExitHandler();
// Closing the console, Ctrl+C and Ctrl+Break on Windows; SIGHUP, SIGINT and
// SIGTERM on Linux. Removes the blocks, then the default handling ends the
// process. On Linux, call before any other thread starts.
void InstallConsoleCtrlHandler();
// Crashes: the blocks are removed, then the system's default crash handling
// follows. Also covers std::terminate.
void InstallCrashFilter();

// Installs the std::terminate hook shared by both platforms.
void InstallTerminateHook();

}  // namespace palisard
