#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <thread>

#include "app/exit_paths.h"

namespace palisard {
namespace {

// Crash handlers hand the clean-up to the exit thread through these pipes
// and wait for its answer: a signal handler itself may only make
// async-signal-safe calls, and removing blocks needs locks and the heap.
int crashRequest[2] = {-1, -1};
int crashDone[2] = {-1, -1};

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
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

// The exit thread: serves console signals (through a signalfd) and crash
// requests (through the pipe) outside any signal handler.
void RunExitThread(int signalFd) {
  for (;;) {
    pollfd waits[2] = {{signalFd, POLLIN, 0}, {crashRequest[0], POLLIN, 0}};
    if (poll(waits, 2, -1) <= 0) continue;
    if (waits[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof(info)) == sizeof(info)) {
        RemoveBlocksBeforeExit();
        DieBySignal(static_cast<int>(info.ssi_signo));
      }
    }
    if (waits[1].revents & POLLIN) {
      char request = 0;
      if (read(crashRequest[0], &request, 1) == 1) {
        RemoveBlocksBeforeExit(std::chrono::seconds(1));
        ssize_t ignored = write(crashDone[1], &request, 1);
        (void)ignored;
      }
    }
  }
}

void OnCrashSignal(int signal) {
  // Whatever happens below, the alarm's default action ends the process
  // within two seconds; the kernel then drops the owned firewall table too.
  alarm(2);
  char request = static_cast<char>(signal);
  if (write(crashRequest[1], &request, 1) == 1) {
    ssize_t ignored = read(crashDone[0], &request, 1);
    (void)ignored;
  }
  // The handler was reset on entry (SA_RESETHAND); raising again ends the
  // process by the default action, also for a signal sent with kill.
  raise(signal);
}

}  // namespace

void InstallConsoleCtrlHandler() {
  sigset_t signals = ConsoleSignals();
  // Blocked here on the main thread before any other thread starts, so every
  // thread inherits the mask and only the signalfd receives them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signalFd < 0 || pipe2(crashRequest, O_CLOEXEC) != 0 || pipe2(crashDone, O_CLOEXEC) != 0) {
    // No exit thread: leave the signals to their default action rather than
    // ignore them for good.
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return;
  }
  std::thread(RunExitThread, signalFd).detach();
}

void InstallCrashFilter() {
  struct sigaction action {};
  action.sa_handler = OnCrashSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    sigaction(signal, &action, nullptr);
  }
  InstallTerminateHook();
}

}  // namespace palisard
