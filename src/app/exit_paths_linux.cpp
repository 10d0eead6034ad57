#include <pthread.h>
#include <signal.h>

#include <thread>

#include "app/exit_paths.h"

namespace palisard {
namespace {

sigset_t ConsoleSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);  // the terminal was closed
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// Ends the process by `signal` with its default action, as if no handler
// had been there.
void DieBySignal(int signal) {
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

// Waits for the console signals on a thread of its own, so the blocks are
// removed outside a signal handler, where locks and the firewall may be used.
void WaitForConsoleSignal(sigset_t signals) {
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
  RemoveBlocksBeforeExit();
  DieBySignal(signal);
}

void OnCrashSignal(int signal) {
  RemoveBlocksBeforeExit();
  // The handler was reset on entry (SA_RESETHAND); raising again ends the
  // process by the default action, also for a signal sent with kill.
  raise(signal);
}

}  // namespace

void InstallConsoleCtrlHandler() {
  sigset_t signals = ConsoleSignals();
  // Blocked here on the main thread before any other thread starts, so every
  // thread inherits the mask and only the waiting thread receives them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(WaitForConsoleSignal, signals).detach();
}

void InstallCrashFilter() {
  struct sigaction action{};
  action.sa_handler = OnCrashSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    sigaction(signal, &action, nullptr);
  }
  InstallTerminateHook();
}

}  // namespace palisard
